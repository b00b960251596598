#include "devhost/devhost_options.h"

namespace Velmora::DevHost {

const wchar_t kDevHostUsage[] =
    L"VelmoraDevHost.exe [--port N] [--config URL]\r\n"
    L"  Serves the assistant's page on http://127.0.0.1:N/<token>/ for any browser, with the\r\n"
    L"  program's own command handler and engine behind window.external.\r\n"
    L"  --port N      the loopback port (default: a free one)\r\n"
    L"  --config URL  the check document (default: the ConfigUrl setting)\r\n";

DevHostOptions ParseDevHostArguments(const std::vector<std::wstring>& args)
{
    DevHostOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            options.help = true;
        } else if (arg == L"--port" && hasValue) {
            const std::wstring& text = args[++i];
            int port = 0;
            bool digits = !text.empty() && text.size() <= 5;
            for (const wchar_t c : text) {
                digits = digits && c >= L'0' && c <= L'9';
                if (digits)
                    port = port * 10 + (c - L'0');
            }
            if (!digits || port > 65535) {
                options.error = L"端口应为 0 到 65535 的数字：" + text;
                return options;
            }
            options.port = port;
        } else if (arg == L"--config" && hasValue) {
            options.config = args[++i];
            if (options.config.empty()) {
                options.error = L"--config 需要检测文件的地址";
                return options;
            }
        } else {
            options.error = L"无法识别的参数：" + arg;
            return options;
        }
    }
    return options;
}

} // namespace Velmora::DevHost
