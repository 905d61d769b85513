<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Proxy: On</source>
        <translation>代理：已开启</translation>
    </message>
    <message>
        <source>Proxy: Off</source>
        <translation>代理：已关闭</translation>
    </message>
    <message>
        <source>Turn Proxy On</source>
        <translation>开启代理</translation>
    </message>
    <message>
        <source>Turn Proxy Off</source>
        <translation>关闭代理</translation>
    </message>
</context>
</TS>
