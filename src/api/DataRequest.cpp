#include "DataRequest.h"

#include "platform/Dispatch.h"

#include <utility>

namespace {

bool isFragment(const DataResponse &response)
{
    const auto *value = response.value();
    if (!value || value->is_object() || value->is_array())
        return false;
    // The null of a 204 or 205 answer stands for "no content", not for a parsed fragment.
    const long status = response.response ? response.response->statusCode : 0;
    return status != 204 && status != 205;
}

} // namespace

DataRequest::DataRequest(URLRequest request)
    : m_request(std::move(request))
{ }

DataRequest &DataRequest::responseJSON(JSONReadingOptions options, Completion completion)
{
    if (m_cancelled)
        return *this;
    m_completions.emplace_back(options, std::move(completion));
    if (m_response)
        Platform::mainQueue().async([self = shared_from_this()] { self->deliver(); });
    return *this;
}

DataRequest &DataRequest::onStage(StageHandler handler)
{
    m_stageHandler = std::move(handler);
    return *this;
}

void DataRequest::cancel()
{
    if (std::exchange(m_cancelled, true))
        return;
    m_completions.clear();
    m_stageHandler = nullptr;
    if (auto stop = std::exchange(m_stopTransfer, nullptr))
        stop();
}

void DataRequest::reach(ExchangeStage stage)
{
    if (m_cancelled)
        return;
    if (stage == ExchangeStage::connected)
        m_sent = true;
    if (m_stageHandler)
        m_stageHandler(stage);
}

void DataRequest::finish(DataResponse response)
{
    m_stopTransfer = nullptr;
    m_stageHandler = nullptr; // its captures may hold whoever holds this request
    if (m_cancelled)
        return;
    m_response = std::move(response);
    deliver();
}

void DataRequest::deliver()
{
    auto completions = std::move(m_completions);
    m_completions.clear();
    for (auto &[options, completion] : completions) {
        DataResponse response = *m_response;
        if (!options.allowFragments && isFragment(response)) {
            response.result = AFError::jsonSerializationFailed(
                "JSON text did not start with array or object and option to allow fragments "
                "not set.");
        }
        response.timeline.serializationCompleted = DataResponse::Clock::now();
        if (completion)
            completion(response);
    }
}
