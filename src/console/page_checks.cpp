#include "console/page_checks.h"

#include <array>
#include <cstdlib>

namespace Velmora::Console {
namespace {

constexpr std::array<FixedCheck, 13> kFixedChecks = {{
    {"cache", "缓存", "", "", "清除"},
    {"registry", "注册表", "正常", "异常", "修复"},
    {"host", "HOST文件", "正常", "异常", "修复"},
    {"cfca", "CFCA根证书", "正常", "异常", "修复"},
    {"iehomepage", "首页锁定", "正常", "异常", "修复"},
    {"compatibility", "兼容性站点加入", "已加入", "未加入", "加入"},
    {"trust", "网银可信站点加入", "已加入", "未加入", "加入"},
    {"connection", "网络连接", "正常", "异常", ""},
    {"url", "网银服务", "正常", "异常", ""},
    {"dns", "DNS解析", "正常", "异常", ""},
    {"firewall", "防火墙检测", "正常", "注意", ""},
    {"winupdate", "Windows自动更新", "自动", "禁用", ""},
    {"proxy", "Http代理服务", "代理上网", "无代理", ""},
}};

constexpr std::array<std::string_view, 4> kStatusText = {"已安装", "已禁用", "有升级", "未安装"};
constexpr std::array<std::string_view, 4> kStatusAction = {"", "修复", "升级", "安装"};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The page is given no security-kind mask of a component; without one a component counts for
// every kind but the first.
constexpr int kDefaultUserMask = 6;

} // namespace

std::span<const FixedCheck> FixedChecks()
{
    return kFixedChecks;
}

bool IsKeyItem(const PageItem& item)
{
    return item.type == "key";
}

bool IsItemSelected(const PageItem& item, const CustomerKind& kind)
{
    if (IsKeyItem(item))
        return kind.userType == 1 && item.flag == kind.keyType;
    if (item.type.find("safe") != std::string::npos)
        return (kind.safeType & kDefaultUserMask) != 0;
    return true;
}

std::optional<std::string> AnswerField(std::string_view answer, std::string_view field)
{
    const std::string quoted = "\"" + std::string(field) + "\"";
    for (std::size_t at = answer.find(quoted); at != std::string_view::npos;
         at = answer.find(quoted, at + 1)) {
        std::size_t pos = at + quoted.size();
        while (pos < answer.size() && IsSpace(answer[pos]))
            ++pos;
        if (pos >= answer.size() || answer[pos] != ':')
            continue; // the name appeared as a value
        ++pos;
        while (pos < answer.size() && IsSpace(answer[pos]))
            ++pos;
        if (pos < answer.size() && answer[pos] == '"') {
            std::string value;
            for (++pos; pos < answer.size() && answer[pos] != '"'; ++pos) {
                if (answer[pos] == '\\' && pos + 1 < answer.size())
                    ++pos;
                value += answer[pos];
            }
            return value;
        }
        std::size_t end = pos;
        while (end < answer.size() && answer[end] != ',' && answer[end] != '}' && !IsSpace(answer[end]))
            ++end;
        return std::string(answer.substr(pos, end - pos));
    }
    return std::nullopt;
}

Judgement JudgeFixed(const FixedCheck& check, const std::optional<std::string>& answer)
{
    const std::optional<std::string> result = answer ? AnswerField(*answer, "result") : std::nullopt;
    Judgement judgement;
    judgement.passed = result && *result == "true";
    judgement.text = judgement.passed ? check.okText : check.failText;
    if (judgement.passed || check.type == "proxy")
        judgement.state = CheckState::Ok;
    else
        judgement.state = check.action.empty() ? CheckState::Warning : CheckState::Repair;
    return judgement;
}

int ItemStatusFromAnswer(const std::optional<std::string>& answer)
{
    const std::optional<std::string> result = answer ? AnswerField(*answer, "result") : std::nullopt;
    if (!result || result->empty())
        return 3;
    char* end = nullptr;
    const long status = std::strtol(result->c_str(), &end, 10);
    return end != result->c_str() && status >= 0 && status <= 3 ? static_cast<int>(status) : 3;
}

std::string_view ItemStatusText(int status)
{
    return status >= 0 && status <= 3 ? kStatusText[static_cast<std::size_t>(status)] : kStatusText[3];
}

std::string_view ItemAction(int status)
{
    return status >= 0 && status <= 3 ? kStatusAction[static_cast<std::size_t>(status)] : kStatusAction[3];
}

} // namespace Velmora::Console
