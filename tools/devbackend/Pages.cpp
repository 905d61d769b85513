#include "Pages.h"

#include <httplib.h>

namespace Dev {

namespace {

constexpr const char *Html = "text/html; charset=utf-8";
constexpr const char *Text = "text/plain; charset=utf-8";

std::string escaped(const std::string &text)
{
    std::string result;
    for (const char c : text) {
        switch (c) {
        case '&':
            result += "&amp;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '"':
            result += "&quot;";
            break;
        case '\'':
            result += "&#39;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

std::string document(const std::string &title, const std::string &body)
{
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
           + title + "</title>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

std::string homePage()
{
    return document("OrvaneVPN",
                    "<h1>OrvaneVPN</h1>\n"
                    "<p>Fast, private connections from anywhere. 安全、快速的网络连接。</p>\n"
                    "<p><a href=\"/webpay/\">Renew your membership</a> · "
                    "<a href=\"/service/chat.html\">Customer service</a></p>\n");
}

// The client puts its parameters in the fragment, which never reaches a server, so a script
// reads them there; the query, when there is one, is shown straight away.
std::string payPage(const httplib::Request &request)
{
    std::string received;
    if (request.has_param("token") || request.has_param("time")) {
        received = "<p id=\"query\">Received token of length "
                   + std::to_string(request.get_param_value("token").size()) + ", time "
                   + escaped(request.get_param_value("time")) + ".</p>\n";
    }
    return document(
        "OrvaneVPN - Renew",
        "<h1>Renew your membership</h1>\n<p>This is the renewal page of the development "
        "backend; nothing is charged.</p>\n"
            + received
            + "<p id=\"fragment\"></p>\n"
              "<script>\n"
              "const query = location.hash.replace(/^#\\/?[?]?/, '');\n"
              "const values = new URLSearchParams(query);\n"
              "if (values.has('token') || values.has('time')) {\n"
              "    document.getElementById('fragment').textContent =\n"
              "        'Received token of length ' + (values.get('token') || '').length +\n"
              "        ', time ' + (values.get('time') || '') + '.';\n"
              "}\n"
              "</script>\n");
}

std::string userAgreement()
{
    return "OrvaneVPN 用户协议 (User Agreement)\n\n"
           "1. OrvaneVPN provides encrypted network connections to paying and trial members.\n"
           "2. Use the service lawfully; do not attack, spam or abuse other networks.\n"
           "3. One account is for one person; sharing it may end the membership.\n"
           "4. Traffic and membership periods are as shown in the client; unused traffic does "
           "not carry over.\n"
           "5. We may change these terms; the client shows the current version.\n";
}

std::string privacyAgreement()
{
    return "OrvaneVPN 隐私协议 (Privacy Policy)\n\n"
           "1. We keep your e-mail address, membership and traffic totals to run your account.\n"
           "2. We do not record the sites you visit or the contents of your connections.\n"
           "3. A device identifier is kept to limit how many devices use one account.\n"
           "4. You can ask customer service to delete your account and its data.\n";
}

std::string chatPage()
{
    return document("OrvaneVPN - Customer service",
                    "<h1>Customer service</h1>\n"
                    "<p>Our staff answer within one working day. 客服将在一个工作日内回复。</p>\n"
                    "<form><textarea name=\"message\" rows=\"4\" cols=\"40\"></textarea><br>\n"
                    "<button type=\"button\">Send</button></form>\n");
}

} // namespace

std::optional<Page> pageFor(const httplib::Request &request)
{
    if (request.method != "GET")
        return std::nullopt;
    const std::string &path = request.path;
    if (path == "/")
        return Page{Html, homePage()};
    if (path == "/webpay/" || path == "/webpay")
        return Page{Html, payPage(request)};
    if (path == "/license/用户协议.txt")
        return Page{Text, userAgreement()};
    if (path == "/license/隐私协议.txt")
        return Page{Text, privacyAgreement()};
    if (path == "/service/chat.html")
        return Page{Html, chatPage()};
    return std::nullopt;
}

} // namespace Dev
