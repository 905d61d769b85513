#!/usr/bin/python3
"""Walks the running client's accessibility tree over AT-SPI in one state of
tests/e2e/accessibility-walk: waits until the state shows, writes every showing object to
<out>/tree-<state>.txt, then checks names, roles and states against the tables below.

  atspi_walk.py --pid PID --state STATE --out DIR [--toast MESSAGE] [--timeout SECONDS]

Exit status: 0 when every check passes, 1 when some fail (listed on stdout and in
<out>/failures-<state>.txt), 2 when the client's application or window never showed.
"""
import argparse
import json
import os
import sys
import time

import pyatspi
from gi.repository import Atspi, GLib

# ---- What the tree must look like ------------------------------------------------------------
HOME = ('home-signed-out', 'home-signed-in')
PANEL = ('sign-in', 'register', 'reset')
EVERY = HOME + PANEL + ('node-page', 'account-page')

FRAME = ('frame',)
BUTTON = ('push button',)
CHECK = ('check box',)
RADIO = ('radio button',)
TEXT = ('text', 'entry')
PASSWORD = ('password text',)
TOAST = ('alert', 'notification')
LINK = ('link',)

# The main window's title, and the texts that show (and that must be gone) once a state is up.
WINDOW = 'QaroMac'
READY = {
    'home-signed-out': (['网络加速', '登录'], ['账号登录', '国家地区', '基本信息']),
    'sign-in': (['账号登录'], []),
    'register': (['账号注册'], []),
    'reset': (['重置密码'], []),
    'home-signed-in': (['网络加速', 'demo@orvane.test'],
                       ['账号登录', '国家地区', '基本信息']),
    'node-page': (['国家地区'], ['账号登录']),
    'account-page': (['基本信息', '系统设置'], ['账号登录']),
}

# Every showing object with this name has one of these roles; for check boxes, CHECKED follows
# the stored setting named last (a preference key, or AUTOSTART for the login item).
AUTOSTART = 'autostart'
CONTROLS = [
    (WINDOW, FRAME, EVERY, None),  # screen readers announce a frame's title, not a filler's
    ('关闭', BUTTON, EVERY, None),
    ('最小化', BUTTON, EVERY, None),
    ('联系客服', BUTTON, EVERY, None),
    ('开始加速', BUTTON, HOME, None),
    ('记住密码', CHECK, ('sign-in',), 'Key_Last_Accout_Id_Pw'),
    ('自动登录', CHECK, ('sign-in', 'account-page'), 'Key_Last_Auto_Login'),
    ('开机启动', CHECK, ('account-page',), AUTOSTART),
    ('请输入QARO账号', TEXT, PANEL, None),
    ('请输入密码', PASSWORD, PANEL, None),
    ('请输入验证码', TEXT, ('register', 'reset'), None),
    ('忘记密码？', LINK, ('sign-in',), None),
    ('免费注册>', LINK, ('sign-in',), None),
    ('常见问题', LINK, ('account-page',), None),
]

# Radio buttons of which exactly one is CHECKED.
GROUPS = [(HOME, ['智能模式', '全局模式'])]

# The node page: the automatic choice and the stored node names (the page shows 40 at most)
# are radio buttons, exactly one CHECKED; nodes outside the subscription are locked and neither
# ENABLED nor SENSITIVE, under their name or their name with LOCKED after it.
NODE_STATES = ('node-page',)
AUTOMATIC_NODE = '自动适配最佳线路'
NODE_LIMIT = 40
LOCKED = '（已锁定）'

# A control someone can act on must have a name.
INTERACTIVE = {
    'push button', 'toggle button', 'check box', 'radio button', 'menu item', 'check menu item',
    'radio menu item', 'page tab', 'link', 'combo box', 'spin button', 'slider', 'text', 'entry',
    'password text',
}


# ---- Reading the tree ------------------------------------------------------------------------
class Node:
    """One showing object, read once: the walk compares and checks these, not live objects."""

    def __init__(self, obj, path, main):
        self.path = path
        self.main = main  # in the main window, not in a toast
        self.role = obj.getRoleName()
        self.name = obj.name or ''
        self.states = {pyatspi.stateToString(s).lower().replace('state_', '', 1)
                       for s in obj.getState().getStates()}
        try:
            self.actions = obj.queryAction().nActions
        except NotImplementedError:
            self.actions = 0
        try:
            box = obj.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            self.extents = (box.x, box.y, box.width, box.height)
        except NotImplementedError:
            self.extents = None
        self.children = [obj.getChildAtIndex(i) for i in range(obj.childCount)]

    def key(self):
        return (self.path, self.role, self.name, tuple(sorted(self.states)), self.extents)

    def where(self):
        x = '%d,%d %dx%d' % self.extents if self.extents else 'no extents'
        return '%s at %s (%s)' % (self.role, self.path, x)

    def line(self):
        depth = self.path.count(' > ')
        return '%s%s "%s" [%s] actions=%d %s' % (
            '  ' * depth, self.role, self.name, ', '.join(sorted(self.states)), self.actions,
            self.extents)


def showing_subtree(obj, path, main=False):
    """The object and its showing descendants, depth first."""
    node = Node(obj, path, main)
    nodes = [node]
    for index, child in enumerate(node.children):
        if child is not None and child.getState().contains(pyatspi.STATE_SHOWING):
            nodes += showing_subtree(
                child, '%s > %s[%d]' % (path, child.getRoleName(), index), main)
    return nodes


def window_path(window):
    return '%s "%s"' % (window.getRoleName(), window.name)


def find_application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def top_levels(app):
    """The application's showing windows: (the main window, the others)."""
    main, others = None, []
    for index in range(app.childCount):
        window = app.getChildAtIndex(index)
        if window is None or not window.getState().contains(pyatspi.STATE_SHOWING):
            continue
        if main is None and window.name == WINDOW:
            main = window
        else:
            others.append(window)
    return main, others


def read_tree(app):
    """Every showing object of the main window, then those of the other showing windows."""
    main, others = top_levels(app)
    if main is None:
        return None
    nodes = showing_subtree(main, window_path(main), main=True)
    for window in others:
        nodes += showing_subtree(window, window_path(window))
    return nodes


def poll(seconds, attempt):
    """Calls attempt until it returns something other than None, or the time is up."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            result = attempt()
        except GLib.Error:  # an object went away while it was being read
            result = None
        if result is not None or time.monotonic() > deadline:
            return result
        time.sleep(0.1)


# ---- Checks ----------------------------------------------------------------------------------
def stored_settings():
    config = os.environ.get('XDG_CONFIG_HOME', os.path.expanduser('~/.config'))
    try:
        path = os.path.join(config, 'com.qaromac.wv', 'preferences.json')
        with open(path, encoding='utf-8') as f:
            preferences = json.load(f)
    except FileNotFoundError:
        preferences = {}
    autostart = os.path.join(config, 'autostart')
    enabled = False
    for entry in os.listdir(autostart) if os.path.isdir(autostart) else []:
        with open(os.path.join(autostart, entry), encoding='utf-8', errors='replace') as f:
            text = f.read()
        if 'OrvaneVPN' in text and 'Hidden=true' not in text \
                and 'X-GNOME-Autostart-enabled=false' not in text:
            enabled = True
    preferences[AUTOSTART] = enabled
    return preferences


def main_window_nodes(nodes):
    return [n for n in nodes if n.main]


def check_state(state, nodes, stored):
    failures = []
    named = {}
    for node in main_window_nodes(nodes):
        named.setdefault(node.name, []).append(node)

    for node in nodes:
        interactive = node.role in INTERACTIVE or node.actions > 0 or 'focusable' in node.states
        if interactive and not node.name.strip():
            failures.append('nameless control: %s' % node.where())
        if 'editable' in node.states and node.role not in TEXT + PASSWORD:
            failures.append('"%s": editable but role %s: %s' % (node.name, node.role, node.where()))

    for name, roles, states, setting in CONTROLS:
        if state not in states:
            continue
        if name not in named:
            failures.append('"%s": no showing object has this name' % name)
            continue
        for node in named[name]:
            if node.role not in roles:
                failures.append('"%s": role %s, expected %s: %s'
                                % (name, node.role, ' or '.join(roles), node.where()))
            if setting is not None:
                want = bool(stored.get(setting))
                if ('checked' in node.states) != want:
                    failures.append('"%s": %s CHECKED, but the stored setting %s is %s'
                                    % (name, 'is' if not want else 'not', setting,
                                       'on' if want else 'off'))

    for states, names in GROUPS:
        if state in states:
            failures += check_group(names, named, {})

    if state in NODE_STATES:
        all_nodes = [n for n in stored.get('key.qaro.all.nodes') or [] if isinstance(n, str)]
        subscription = stored.get('key.qaro.sub.nodes') or []
        locked = {n for n in all_nodes[:NODE_LIMIT] if subscription and n not in subscription}
        failures += check_group([AUTOMATIC_NODE] + all_nodes[:NODE_LIMIT], named, locked)
        for node in main_window_nodes(nodes):
            if node.name.endswith(LOCKED) and ({'enabled', 'sensitive'} & node.states):
                failures.append('"%s": locked, yet %s: %s' % (
                    node.name, ' and '.join(sorted({'enabled', 'sensitive'} & node.states)),
                    node.where()))
    return failures


def check_group(names, named, locked):
    """Each name a radio button (locked ones disabled), exactly one of them CHECKED."""
    failures, checked = [], []
    for name in names:
        shown = named.get(name, []) + (named.get(name + LOCKED, []) if name in locked else [])
        radios = [n for n in shown if n.role in RADIO]
        if not radios:
            roles = ', '.join('%s "%s"' % (n.role, n.name) for n in shown) or 'nothing'
            failures.append('"%s"%s: no radio button with this name (shown: %s)'
                            % (name, ' (locked)' if name in locked else '', roles))
        for radio in radios:
            if 'checked' in radio.states:
                checked.append(name)
            if name in locked and ({'enabled', 'sensitive'} & radio.states):
                failures.append('"%s": locked, yet enabled: %s' % (name, radio.where()))
    if len(checked) != 1:
        failures.append('%s: %d CHECKED (%s), expected exactly one'
                        % (' / '.join(names[:3]) + (' ...' if len(names) > 3 else ''),
                           len(checked), ', '.join(checked) or 'none'))
    return failures


def check_toast(app, message, seconds):
    """Waits for the toast with the message; it must be an alert that took no focus."""
    def toast_shown():
        main, others = top_levels(app)
        for window in others:
            names = [n.name for n in showing_subtree(window, window_path(window))]
            if message in names:
                return main, window
        return None

    before, _ = top_levels(app)
    was_active = before is not None and before.getState().contains(pyatspi.STATE_ACTIVE)
    found = poll(seconds, toast_shown)
    if found is None:
        return ['toast "%s": never showed in the tree as a window of its own' % message], []
    main, window = found
    nodes = showing_subtree(window, window_path(window))
    failures = []
    if nodes[0].role not in TOAST:
        failures.append('toast "%s": role %s, expected %s'
                        % (message, nodes[0].role, ' or '.join(TOAST)))
    if nodes[0].name != message:
        failures.append('toast "%s": named "%s"' % (message, nodes[0].name))
    if was_active and not main.getState().contains(pyatspi.STATE_ACTIVE):
        failures.append('toast "%s": the main window lost ACTIVE when it showed' % message)
    for node in nodes:
        if {'active', 'focused'} & node.states:
            failures.append('toast "%s": took the focus: %s is %s' % (
                message, node.where(), ' and '.join(sorted({'active', 'focused'} & node.states))))
    if not was_active:
        failures.append('toast "%s": the main window was not ACTIVE before it showed' % message)
    return failures, nodes


# ---- The walk --------------------------------------------------------------------------------
def walk(app, state, seconds):
    """The tree once the state's texts show (and the gone ones are gone) and two reads agree."""
    present, absent = READY[state]
    previous = []

    def settled():
        nodes = read_tree(app)
        if nodes is None:
            return None
        names = {n.name for n in main_window_nodes(nodes)}
        if not set(present) <= names or set(absent) & names:
            previous[:] = [None]
            return None
        keys = [n.key() for n in nodes]
        same = previous == [keys]
        previous[:] = [keys]
        return nodes if same else None

    nodes = poll(seconds, settled)
    if nodes is not None:
        return nodes, []
    nodes = poll(5, lambda: read_tree(app)) or []
    names = {n.name for n in main_window_nodes(nodes)}
    why = ['no showing "%s"' % n for n in present if n not in names]
    why += ['"%s" still showing' % n for n in absent if n in names]
    return nodes, ['the state never settled: %s' % ('; '.join(why) or 'the tree kept changing')]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--pid', type=int, required=True)
    parser.add_argument('--state', choices=sorted(READY), required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('--toast')
    parser.add_argument('--timeout', type=float, default=30)
    args = parser.parse_args()

    app = poll(args.timeout, lambda: find_application(args.pid))
    if app is None:
        print('atspi_walk: no application with process %d in the AT-SPI registry' % args.pid)
        return 2
    app.setCacheMask(Atspi.Cache.NONE)  # read what the client says now, not what was cached

    failures, toast = [], []
    if args.toast:
        failures, toast = check_toast(app, args.toast, args.timeout)
    nodes, unsettled = walk(app, args.state, args.timeout)
    if not nodes:
        print('atspi_walk: the window "%s" of process %d never showed' % (WINDOW, args.pid))
        return 2
    failures += unsettled + check_state(args.state, nodes + toast, stored_settings())
    failures = list(dict.fromkeys(failures))  # a toast still up is read twice

    with open(os.path.join(args.out, 'tree-%s.txt' % args.state), 'w', encoding='utf-8') as f:
        f.write('# %s: %d showing objects of process %d\n' % (args.state, len(nodes), args.pid))
        for node in nodes:
            f.write(node.line() + '\n')
        if toast:
            f.write('# the toast, as it showed\n')
            f.writelines(node.line() + '\n' for node in toast)
    with open(os.path.join(args.out, 'failures-%s.txt' % args.state), 'w', encoding='utf-8') as f:
        f.writelines(failure + '\n' for failure in failures)
    for failure in failures:
        print('%s: FAILED: %s' % (args.state, failure))
    print('%s: %d objects, %d failures' % (args.state, len(nodes), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
