#pragma once
// A generated check document of about the given size, shaped like the bank's: config sections,
// comments, items with detect and installer entries, entities in values.

#include <cstddef>
#include <string>

inline std::string MakeCheckDocument(std::size_t targetBytes)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<checkitems version=\"3\" base=\"https://bank.example/assist/\">\n";
    for (int i = 0; text.size() < targetBytes; ++i) {
        const std::string n = std::to_string(i);
        text += "  <config type=\"host\">\n    <data>host" + n +
                ".bank.example</data>\n"
                "    <data>www" +
                n +
                ".bank.example &amp; more</data>\n  </config>\n"
                "  <!-- item " +
                n +
                " -->\n"
                "  <item name=\"Control &#x4E2D;" +
                n +
                "\" type=\"regcheck\" checktype=\"1\">\n"
                "    <detect type=\"reg\" key=\"HKLM\\SOFTWARE\\Bank\\C" +
                n + "\" value=\"Version\" ver=\"&gt;=1.2.0." + n +
                "\"/>\n"
                "    <installer url=\"setup" +
                n +
                ".exe\" md5=\"0123456789abcdef0123456789abcdef\" cmd=\"/S\"/>\n"
                "  </item>\n";
    }
    text += "</checkitems>\n";
    return text;
}
