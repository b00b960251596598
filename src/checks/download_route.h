#pragma once
// Installs hand their downloads a plain progress function (it travels on the entries as an
// attribute, see download_notify.h). While a route lives, that function passes every report made
// on the same thread to the route's callable, so that the caller's own state (the page, the
// component being installed) is reached without any process-wide variable.
//
//   ScopedDownloadRoute route([&](int percent, bool ok) { page.SetProgress(percent, ok); });
//   InstallItem(item.Detect, item.Installers, ScopedDownloadRoute::Function(), 0);

#include "checks/download_notify.h"

#include <functional>

namespace Velmora::Assistant {

class ScopedDownloadRoute {
public:
    // `percent` is the report's percentage as a signed number (a saturated one reads as negative);
    // `ok` whether the percentage is valid.
    using Sink = std::function<void(int percent, bool ok)>;

    explicit ScopedDownloadRoute(Sink sink);
    ~ScopedDownloadRoute();
    ScopedDownloadRoute(const ScopedDownloadRoute&) = delete;
    ScopedDownloadRoute& operator=(const ScopedDownloadRoute&) = delete;

    // The function to hand to an install; reports on a thread without a route go nowhere.
    static DownloadNotifyFn Function();

private:
    static void Notify(const Network::DownloadProgress& progress);

    Sink sink_;
    ScopedDownloadRoute* previous_;
};

} // namespace Velmora::Assistant
