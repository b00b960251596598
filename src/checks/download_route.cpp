#include "checks/download_route.h"

namespace Velmora::Assistant {
namespace {

thread_local ScopedDownloadRoute* t_route = nullptr;

} // namespace

ScopedDownloadRoute::ScopedDownloadRoute(Sink sink) : sink_(std::move(sink)), previous_(t_route)
{
    t_route = this;
}

ScopedDownloadRoute::~ScopedDownloadRoute()
{
    t_route = previous_;
}

DownloadNotifyFn ScopedDownloadRoute::Function()
{
    return &ScopedDownloadRoute::Notify;
}

void ScopedDownloadRoute::Notify(const Network::DownloadProgress& progress)
{
    if (t_route && t_route->sink_)
        t_route->sink_(static_cast<int>(progress.percent), progress.percentValid);
}

} // namespace Velmora::Assistant
