#!/usr/bin/env python3
"""The before/after table of a VelmoraCheck.exe repair run, from its JSON report:

    report.py REPORT.json [REPORT.html]

prints the table (each check: before, the repair done, after) and, when asked, writes it as a
small HTML page. A report that is not one of VelmoraCheck's, or holds no check round, is refused
with a message and exit status 2.
"""

import html
import json
import os
import sys

STATE_TEXT = {"ok": "通过", "repair": "待修复", "warning": "注意"}
EXIT_TEXT = {0: "无需修复", 1: "仍有需要修复的项目", 2: "未能取得检测文件", 3: "网银助手正在运行",
             4: "命令行有误", 5: "报告未能写入"}


class ReportError(Exception):
    pass


def key_of(record):
    return ("type", record["type"]) if "type" in record else ("index", record.get("index"))


def rows_of(report):
    """(name, before, action, after) per check, in the order of the first check round; before and
    after are records or None."""
    if report.get("program") != "VelmoraCheck" or not isinstance(report.get("rounds"), list):
        raise ReportError("not a report of VelmoraCheck.exe")
    rounds = {r.get("phase"): r.get("results") or [] for r in report["rounds"]}
    if "check" not in rounds:
        raise ReportError("the report holds no check round")
    fixes = {key_of(r): r for r in rounds.get("fix", [])}
    after = {key_of(r): r for r in rounds.get("recheck", [])}
    rows = []
    for record in rounds["check"]:
        key = key_of(record)
        fix = fixes.get(key)
        rows.append((record.get("name", "?"), record, fix.get("action", "") if fix else "", after.get(key)))
    return rows


def verdict(record):
    if record is None:
        return "", ""
    text = record.get("text") or ""
    state = STATE_TEXT.get(record.get("state"), record.get("state", "?"))
    return record.get("state", ""), f"{state}：{text}" if text and text != state else state


def counts(rows, column):
    states = [verdict(row[column])[0] for row in rows if row[column] is not None]
    return {state: states.count(state) for state in STATE_TEXT}


def summary_line(label, tally):
    return f"{label}：{tally['ok']} 项通过，{tally['repair']} 项待修复，{tally['warning']} 项注意"


def width(text):
    # CJK characters take two columns in a terminal.
    return sum(2 if ord(c) >= 0x1100 else 1 for c in text)


def pad(text, columns):
    return text + " " * max(0, columns - width(text))


def table_text(report, rows):
    header = ("检查项", "修复前", "修复", "修复后")
    cells = [header] + [(name, verdict(before)[1], action, verdict(after)[1]) for name, before, action, after in rows]
    widths = [max(width(row[i]) for row in cells) for i in range(4)]
    lines = ["  ".join(pad(cell, widths[i]) for i, cell in enumerate(row)).rstrip() for row in cells]
    lines.insert(1, "  ".join("-" * w for w in widths))
    lines.append("")
    lines.append(summary_line("修复前", counts(rows, 1)))
    if any(row[3] is not None for row in rows):
        lines.append(summary_line("修复后", counts(rows, 3)))
    code = report.get("exit_code")
    lines.append(f"结果：{code}（{EXIT_TEXT.get(code, '未知')}）")
    return "\n".join(lines) + "\n"


def table_html(report, rows):
    def cell(record):
        state, text = verdict(record)
        return f'<td class="{html.escape(state)}">{html.escape(text)}</td>'

    body = "\n".join(
        f"<tr><th>{html.escape(name)}</th>{cell(before)}<td>{html.escape(action)}</td>{cell(after)}</tr>"
        for name, before, action, after in rows)
    code = report.get("exit_code")
    facts = [("检测文件", report.get("config", "")), ("开始时间", report.get("started", "")),
             ("系统版本", report.get("system", "")), ("IE版本", report.get("ie", "")),
             ("程序版本", report.get("version", "")), ("结果", f"{code}（{EXIT_TEXT.get(code, '未知')}）")]
    facts_html = "".join(f"<tr><th>{html.escape(k)}</th><td>{html.escape(str(v))}</td></tr>" for k, v in facts)
    totals = [summary_line("修复前", counts(rows, 1))]
    if any(row[3] is not None for row in rows):
        totals.append(summary_line("修复后", counts(rows, 3)))
    totals_html = "".join(f"<p>{html.escape(t)}</p>" for t in totals)
    return f"""<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>网银助手 检测与修复报告</title>
<style>
body {{ font-family: "Microsoft YaHei", "WenQuanYi Micro Hei", sans-serif; margin: 2em; color: #222; }}
table {{ border-collapse: collapse; margin-bottom: 1.5em; }}
th, td {{ border: 1px solid #ccc; padding: 4px 12px; text-align: left; }}
thead th {{ background: #f0f0f0; }}
td.ok {{ color: #1a7f37; }}
td.repair {{ color: #c62828; font-weight: bold; }}
td.warning {{ color: #b26a00; }}
</style>
</head>
<body>
<h1>网银助手 检测与修复报告</h1>
<table>{facts_html}</table>
<table>
<thead><tr><th>检查项</th><th>修复前</th><th>修复</th><th>修复后</th></tr></thead>
<tbody>
{body}
</tbody>
</table>
{totals_html}
</body>
</html>
"""


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as source:
            report = json.load(source)
        rows = rows_of(report)
    except (OSError, ValueError, ReportError) as error:
        print(f"{argv[1]}: {error}", file=sys.stderr)
        return 2
    sys.stdout.write(table_text(report, rows))
    if len(argv) == 3:
        with open(argv[2] + ".tmp", "w", encoding="utf-8") as out:
            out.write(table_html(report, rows))
        os.replace(argv[2] + ".tmp", argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
