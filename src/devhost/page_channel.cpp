#include "devhost/page_channel.h"

namespace Velmora::DevHost {
namespace {

PageAnswer AnswerFrom(const Json& value)
{
    PageAnswer answer;
    const Json* ok = Member(value, "ok");
    answer.ok = ok && ok->is_boolean() && ok->get<bool>();
    if (const Json* result = Member(value, "result"))
        answer.result = *result;
    return answer;
}

} // namespace

PageChannel::PageChannel(ChannelTimes times) : times_(times), pageThread_([this] { PageThreadMain(); }) {}

PageChannel::~PageChannel()
{
    Close();
    if (pageThread_.joinable())
        pageThread_.join();
}

void PageChannel::Close(std::chrono::milliseconds callGrace)
{
    std::unique_lock<std::mutex> held(lock_);
    changed_.wait_for(held, callGrace, [this] { return !callBusy_; });
    closed_ = true;
    for (auto& [id, pending] : pending_) {
        if (!pending.answer)
            pending.answer = Failed();
    }
    outbox_.clear();
    changed_.notify_all();
}

bool PageChannel::PagePresent(Clock::time_point now) const
{
    return pollsWaiting_ > 0 || (callBusy_ && !callAbandoned_) || now - lastSeen_ < times_.pageGone;
}

void PageChannel::PageThreadMain()
{
    std::unique_lock<std::mutex> held(lock_);
    for (;;) {
        changed_.wait(held, [this] { return closed_ || work_.has_value(); });
        if (closed_ && !work_)
            return;
        std::function<Json()> work = std::move(*work_);
        work_.reset();
        held.unlock();
        Json result;
        try {
            result = work();
        } catch (...) {
            result = Json();
        }
        held.lock();
        if (callAbandoned_ || closed_) {
            // No connection waits for the end of this call any more.
            callBusy_ = false;
            callAbandoned_ = false;
        } else {
            step_ = Json{{"done", true}, {"result", std::move(result)}};
        }
        changed_.notify_all();
    }
}

std::optional<Json> PageChannel::AwaitStep(std::unique_lock<std::mutex>& held)
{
    changed_.wait(held, [this] { return closed_ || step_.has_value(); });
    if (!step_) {
        callBusy_ = false;
        return std::nullopt;
    }
    Json step = std::move(*step_);
    step_.reset();
    if (Member(step, "done")) {
        callBusy_ = false;
        changed_.notify_all();
    }
    lastSeen_ = Clock::now();
    return step;
}

std::optional<Json> PageChannel::BeginCall(std::function<Json()> work)
{
    std::unique_lock<std::mutex> held(lock_);
    if (closed_ || callBusy_)
        return std::nullopt;
    lastSeen_ = Clock::now();
    callBusy_ = true;
    callAbandoned_ = false;
    work_ = std::move(work);
    changed_.notify_all();
    return AwaitStep(held);
}

std::optional<Json> PageChannel::ContinueCall(const Json& answer)
{
    std::unique_lock<std::mutex> held(lock_);
    if (closed_ || !callBusy_ || !awaitingAnswer_ || answer_)
        return std::nullopt;
    lastSeen_ = Clock::now();
    answer_ = answer;
    changed_.notify_all();
    return AwaitStep(held);
}

PageAnswer PageChannel::PerformAsStep(Json request, std::unique_lock<std::mutex>& held)
{
    if (callAbandoned_ || closed_)
        return Failed();
    step_ = Json{{"op", std::move(request)}};
    awaitingAnswer_ = true;
    changed_.notify_all();
    const bool answered =
        changed_.wait_for(held, times_.pageGone, [this] { return closed_ || answer_.has_value(); });
    awaitingAnswer_ = false;
    if (!answered || !answer_) {
        // The page went away inside its call: the call runs to its end without it.
        step_.reset();
        callAbandoned_ = true;
        return Failed();
    }
    PageAnswer answer = AnswerFrom(*answer_);
    answer_.reset();
    return answer;
}

PageAnswer PageChannel::Perform(Json request)
{
    std::unique_lock<std::mutex> held(lock_);
    if (closed_)
        return Failed();
    if (OnPageThread())
        return PerformAsStep(std::move(request), held);

    const long long id = ++nextId_;
    request["id"] = id;
    pending_[id].request = std::move(request);
    outbox_.push_back(id);
    changed_.notify_all();
    for (;;) {
        Pending& pending = pending_[id];
        if (pending.answer)
            break;
        if (!PagePresent(Clock::now())) {
            pending.answer = Failed();
            break;
        }
        changed_.wait_for(held, std::chrono::milliseconds(500));
    }
    const PageAnswer answer = *pending_[id].answer;
    pending_.erase(id);
    for (auto queued = outbox_.begin(); queued != outbox_.end(); ++queued) {
        if (*queued == id) {
            outbox_.erase(queued);
            break;
        }
    }
    return answer;
}

Json PageChannel::Poll(const std::string& pageId, const Json& answers)
{
    std::unique_lock<std::mutex> held(lock_);
    lastSeen_ = Clock::now();
    if (pageId != currentPage_) {
        for (auto& [id, pending] : pending_) {
            if (!pending.deliveredTo.empty() && pending.deliveredTo != pageId && !pending.answer)
                pending.answer = Failed();
        }
        currentPage_ = pageId;
    }
    if (answers.is_array()) {
        for (const Json& given : answers) {
            const Json* id = Member(given, "id");
            if (!id || !id->is_number_integer())
                continue;
            const auto found = pending_.find(id->get<long long>());
            if (found != pending_.end() && found->second.deliveredTo == pageId && !found->second.answer)
                found->second.answer = AnswerFrom(given);
        }
    }
    changed_.notify_all();

    ++pollsWaiting_;
    changed_.wait_for(held, times_.poll, [this] { return closed_ || !outbox_.empty(); });
    --pollsWaiting_;
    lastSeen_ = Clock::now();
    Json requests = Json::array();
    while (!outbox_.empty()) {
        Pending& pending = pending_[outbox_.front()];
        outbox_.pop_front();
        pending.deliveredTo = pageId;
        requests.push_back(pending.request);
    }
    return requests;
}

} // namespace Velmora::DevHost
