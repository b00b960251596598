#pragma once
// The way between native code and the page in a browser, as the marshalling of the embedded browser
// works: whoever asks the page for something waits until the page has answered.
//
// The page's synchronous calls run one at a time on the channel's page thread, the UI thread of the
// embedded browser's program. While one runs, the page's script is blocked in its request, so what
// the page thread asks of the page goes back as a step of that call: the page performs it, answers
// with its next request, and the call goes on. Every other thread's request waits for the page's
// poll, which takes all waiting requests at once and brings their answers with the next poll.

#include "devhost/wire_json.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace Velmora::DevHost {

struct PageAnswer {
    bool ok = false; // false: the page had no such function, it threw, or the page is gone
    Json result;
};

struct ChannelTimes {
    // How long a poll waits for requests before it answers none.
    std::chrono::milliseconds poll{15000};
    // A page that has not been heard from for this long is gone: requests to it fail. Long, since
    // a page showing a message (alert, confirm) is silent until someone answers it.
    std::chrono::milliseconds pageGone{600000};
};

class PageChannel {
public:
    explicit PageChannel(ChannelTimes times = {});
    PageChannel(const PageChannel&) = delete;
    PageChannel& operator=(const PageChannel&) = delete;
    ~PageChannel();

    // Any thread: `request` (an object naming the operation in "op") performed by the page.
    PageAnswer Perform(Json request);

    // The page's synchronous call. `work` runs on the page thread; the answer is the call's first
    // step: {"done":true,"result":...} when it has ended, or {"op":{...}} for the page to perform.
    // None while another call is in progress (or the channel is closed).
    std::optional<Json> BeginCall(std::function<Json()> work);
    // The page's answer ({"ok":...,"result":...}) to the step it was given; answers the next step.
    // None when no step waits for an answer.
    std::optional<Json> ContinueCall(const Json& answer);

    // The page `pageId` answers ([{"id":n,"ok":...,"result":...}]) and asks for what waits for it:
    // the requests, each with its "id", at once when there are any, else after the poll time.
    // A new page id ends the old page: what it was given and did not answer fails.
    Json Poll(const std::string& pageId, const Json& answers);

    // Every waiting request fails, waiting polls and calls return, and nothing new is taken. A
    // synchronous call in progress is given up to `callGrace` to end first, so that its page gets
    // the answer (the page's quit command among them).
    void Close(std::chrono::milliseconds callGrace = std::chrono::milliseconds(0));

    bool OnPageThread() const { return std::this_thread::get_id() == pageThread_.get_id(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Json request;
        std::string deliveredTo; // empty until a poll took it
        std::optional<PageAnswer> answer;
    };

    void PageThreadMain();
    PageAnswer PerformAsStep(Json request, std::unique_lock<std::mutex>& held);
    std::optional<Json> AwaitStep(std::unique_lock<std::mutex>& held);
    bool PagePresent(Clock::time_point now) const;
    static PageAnswer Failed() { return {}; }

    const ChannelTimes times_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool closed_ = false;
    Clock::time_point lastSeen_ = Clock::now();
    int pollsWaiting_ = 0;

    // The synchronous call.
    bool callBusy_ = false;      // from BeginCall until its end was handed out
    bool callAbandoned_ = false; // its page stopped answering: its further steps fail at once
    std::optional<std::function<Json()>> work_;
    std::optional<Json> step_;   // from the page thread to the call's connection
    std::optional<Json> answer_; // from the page to the page thread
    bool awaitingAnswer_ = false;

    // Requests of other threads.
    long long nextId_ = 0;
    std::deque<long long> outbox_;
    std::map<long long, Pending> pending_;
    std::string currentPage_;

    std::thread pageThread_;
};

} // namespace Velmora::DevHost
