#include "TunnelDataClient.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace TunnelProvider {

namespace {

// The answer is a few kilobytes; a body far beyond that is not one.
constexpr std::size_t largestBody = 1024 * 1024;
constexpr long connectTimeoutMs = 5000;
constexpr long requestTimeoutMs = 15000;

struct EasyFree
{
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct ListFree
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

std::size_t collect(char *data, std::size_t size, std::size_t count, void *body)
{
    auto &text = *static_cast<std::string *>(body);
    if (text.size() + size * count > largestBody)
        return 0; // ends the transfer with an error
    text.append(data, size * count);
    return size * count;
}

int progress(void *cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool> *>(cancelled)->load() ? 1 : 0;
}

} // namespace

TunnelDataClient::Answer TunnelDataClient::fetch(const std::string &host,
                                                 const std::string &subscription,
                                                 const std::string &publicKey,
                                                 const std::atomic<bool> &cancelled)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    if (host.empty())
        return {std::nullopt, "不知道服务的地址，无法获取隧道配置"};
    std::string base = host;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    const std::string url = base + path;
    const std::string body = nlohmann::json{{"sub_uuid", subscription}, {"public_key", publicKey}}
                                 .dump();

    const std::unique_ptr<CURL, EasyFree> easy(curl_easy_init());
    const std::unique_ptr<curl_slist, ListFree> headers(
        curl_slist_append(nullptr, "Content-Type: application/json"));
    if (!easy || !headers)
        return {std::nullopt, "无法发出请求：内存不足"};
    std::string received;
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, requestTimeoutMs);
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy.get(), CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(easy.get(), CURLOPT_XFERINFODATA, &cancelled);

    const CURLcode result = curl_easy_perform(easy.get());
    if (result == CURLE_ABORTED_BY_CALLBACK)
        return {std::nullopt, "已取消"};
    if (result != CURLE_OK)
        return {std::nullopt, std::string("无法连接服务：") + curl_easy_strerror(result)};
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    return answerFrom(status, received);
}

TunnelDataClient::Answer TunnelDataClient::answerFrom(long httpStatus, const std::string &body)
{
    const nlohmann::json envelope = nlohmann::json::parse(body, nullptr, false);
    const auto code = envelope.is_object() ? envelope.find("code") : envelope.end();
    if (!envelope.is_object() || code == envelope.end() || !code->is_number_integer()) {
        return {std::nullopt,
                "服务的回答无法识别（HTTP " + std::to_string(httpStatus) + "），无法获取隧道配置"};
    }
    if (code->get<long long>() != 0) {
        const auto message = envelope.find("msg");
        const std::string text = message != envelope.end() && message->is_string()
                                     ? message->get<std::string>()
                                     : std::string("错误码 ") + code->dump();
        return {std::nullopt, "服务拒绝了订阅：" + text};
    }
    const auto data = envelope.find("data");
    std::string error;
    std::optional<TunnelData> tunnel = data != envelope.end() ? TunnelData::parse(*data, error)
                                                              : std::nullopt;
    if (!tunnel)
        return {std::nullopt, "服务下发的隧道配置无效：" + (error.empty() ? "没有 data" : error)};
    return {std::move(tunnel), {}};
}

} // namespace TunnelProvider
