#include "console/console_options.h"

#include <cwctype>

namespace Velmora::Console {
namespace {

// The switch's name in lower case, or empty when `arg` is not a switch.
std::wstring SwitchName(const std::wstring& arg)
{
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-'))
        return {};
    std::wstring name = arg.substr(1);
    for (wchar_t& c : name)
        c = static_cast<wchar_t>(std::towlower(c));
    return name;
}

} // namespace

ConsoleOptions ParseConsoleArguments(const std::vector<std::wstring>& args)
{
    ConsoleOptions options;
    bool modeGiven = false;
    for (std::size_t i = 0; i < args.size() && options.error.empty(); ++i) {
        const std::wstring name = SwitchName(args[i]);
        if (name == L"?" || name == L"h" || name == L"help") {
            options.help = true;
        } else if (name == L"check" || name == L"fix" || name == L"update") {
            const RunMode mode = name == L"fix"      ? RunMode::Fix
                                 : name == L"update" ? RunMode::Update
                                                     : RunMode::Check;
            if (modeGiven && mode != options.mode)
                options.error = L"/check、/fix 与 /update 只能选一个";
            options.mode = mode;
            modeGiven = true;
        } else if (name == L"yes") {
            options.answerYes = true;
        } else if (name == L"config" || name == L"report") {
            std::wstring& value = name == L"config" ? options.config : options.report;
            if (i + 1 >= args.size() || args[i + 1].empty())
                options.error = L"/" + name + L" 后面缺少" +
                                (name == L"config" ? L"检测文件的地址或路径" : L"报告文件的路径");
            else if (!value.empty())
                options.error = L"/" + name + L" 只能给一次";
            else
                value = args[++i];
        } else {
            options.error = L"不认识的参数：" + args[i];
        }
    }
    return options;
}

std::wstring ConsoleUsage()
{
    return L"网银助手 命令行检测\r\n"
           L"\r\n"
           L"VelmoraCheck.exe [/check | /fix | /update] [/config <地址|文件>] [/report <文件>] [/yes]\r\n"
           L"\r\n"
           L"  /check            检测（默认）：与助手页面的全面检测相同的项目和顺序\r\n"
           L"  /fix              检测，修复未通过的项目（与“一键修复”相同），再检测一次\r\n"
           L"  /update           检测网银助手本身是否有新版本（与“检测更新”相同），有则安装\r\n"
           L"  /config <地址|文件> 使用此检测文件（http/https 地址或本地文件），不用已配置的来源\r\n"
           L"  /report <文件>     把结果写成 JSON 报告（UTF-8）\r\n"
           L"  /yes              需要回答的提问一律回答“是”（默认回答“否”），例如是否安装更新\r\n"
           L"  /?                显示本说明\r\n"
           L"\r\n"
           L"退出码：\r\n"
           L"  0  没有需要修复的项目（助手不能修复的项目只作为注意列出）；/update：已是或已更新为最新版本\r\n"
           L"  1  仍有需要修复的项目（/update：有新版本，但未安装）\r\n"
           L"  2  无法获取检测文件\r\n"
           L"  3  网银助手（或另一个检测）正在运行\r\n"
           L"  4  命令行有误\r\n"
           L"  5  检测已完成，但报告文件无法写入\r\n";
}

} // namespace Velmora::Console
