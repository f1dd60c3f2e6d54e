"""The program's screen texts, as the scenario runner and the Wine checks
expect them: one model of the screens for both.

Field widths count bytes of UTF-8, as the program's printf-style formatting
does, and only pad.
"""

DEFAULT_KEYS = ["smart-camara", "smart-camera", "smartcamara", "smartcamera",
                "smart cam", "smartcam", "智慧摄像机", "智能摄像"]
KEYS_LINE = "   匹配关键词：" + "".join(k + " " for k in DEFAULT_KEYS)
RULE = "  " + "=" * 60 + "\n"
TITLE = "     Quillfen  v2   ·   扫描 / 手动删除 / 拉黑"
CREDIT = "     Quillfen 开发组 · 本机管理员专用"  # the fourth banner line
SCANNING = "  正在扫描设备...\n"
NOTHING = "  （没找到匹配的设备）\n\n"
CLOSING = "\n  日志：device_cleanup_log.txt    拉黑名单：blacklist.tsv\n  Vorin告辞，嗷呜——！\n\n"
FAILED_HINT = "  （多半是权限不足，或设备正在被使用）"
UNREADABLE = "  [错误] 拉黑名单 blacklist.tsv 读不了，这次不会修改它。\n"
OVERFULL = "  [错误] 拉黑名单超过 64 条：只有前 64 条生效，这次不会修改它。\n"


def bad_lines(n, first):
    return "  [错误] 拉黑名单有 %d 行无法识别（最早在第 %d 行），这次不会修改它；请改正或删掉这些行。\n" % (n, first)


NOT_ADMIN = ("  [提示] 当前不是管理员，删除设备会失败。\n"
             "  输入 e 以管理员身份重启，或直接回车继续（只能扫描）> ")
MENU = ("  操作：  1,2,3 = 删除指定序号    a = 全部    k = 换关键词\n"
        "          b = 拉黑名单管理        r = 重新扫描  q = 退出\n"
        "  > ")
NO_SELECTION = "  没有选中任何设备。\n\n"
KEY_PROMPT = "  输入新的匹配关键词（直接回车恢复默认）> "
WARN = ("\n  [!! 这是内置 / 系统类设备 !!]\n"
        "     删除后一般要【重启】才会被 Windows 重新识别装回；\n"
        "     若是磁盘 / 芯片组一类的关键设备，可能影响开机。\n"
        "  是否愿意承担这个风险继续？输入 y = 愿意，其他 = 跳过 > ")
REPLUG = "\n  删除后需要重新插拔 / 重新配对才能再出现（硬件不会损坏）。\n"
CONFIRM = "  最后确认：确定删除吗？输入 y，直接回车 = 跳过 > "
REMOVING = "  正在删除 ...\n"
OFFER = "  要不要把它拉黑（防止它自己回来）？(y/N) > "
DURATION = ("\n  拉黑多久？（期间它一出现就被自动删掉）\n"
            "    1 = 1小时   2 = 6小时   3 = 1天    4 = 7天\n"
            "    5 = 30天    6 = 90天    7 = 180天  8 = 365天\n"
            "    也可以直接输入小时数（1 ~ 8760），回车 = 不拉黑 > ")
TASK_OFFER = "  小提示：装个后台任务才能「它一回来就自动删」。\n  现在安装吗？(y/N) > "
BL_EMPTY = "   （空）\n"
BL_MENU = ("\n  操作： d<序号> = 解除（如 d2）   c = 全部清空\n"
           "         t = 安装后台任务(即时+每5分钟)  u = 卸载后台任务   q = 返回\n"
           "  > ")


def blen(s):
    return len(s.encode("utf-8", "surrogateescape"))


def pad(s, width):
    """printf's %-Ns: widths count bytes, pad only."""
    return s + " " * max(0, width - blen(s))


def banner(credit=CREDIT, key=None, force=False, bl=0, state=None, bad=None):
    """CREDIT is the fourth line (a Wine check passes the one the program
    printed, whose shape it checks on its own); STATE "unreadable" puts the
    blacklist's error line in place of its count, "overfull" after it; BAD,
    (count, first line), the line of lines nobody can read after that."""
    keys = KEYS_LINE if key is None else "   匹配关键词：" + key + "（自定义）"
    risk = "已关闭（--force）" if force else "开启（内置/系统设备会额外询问）"
    count = UNREADABLE if state == "unreadable" else "   拉黑名单：%d 条在用\n" % bl
    return ("\n" + RULE + TITLE + "\n" + credit + "\n" + RULE + keys + "\n"
            + "   风险提示：" + risk + "\n" + count + (OVERFULL if state == "overfull" else "")
            + (bad_lines(*bad) if bad else "") + "\n")


def header():
    return "  序号  状态   保护  已拉黑  " + pad("设备名", 32) + " " + pad("类别", 14) + " 实例ID\n"


def row(n, status, lock, bl, name, cls, inst):
    return ("  " + str(n).ljust(4) + "  " + pad(status, 4) + "  " + pad(lock, 4) + "  " + pad(bl, 6)
            + "  " + pad(name, 32) + " " + pad(cls, 14) + " " + inst + "\n")


def builtin_note(n):
    return "\n  [标记] %d 个属于内置/系统设备（列标「锁」），删除前会额外问你一句是否承担风险\n" % n


def device(name, cls, status, inst):
    """The removal dialogue's block for one device."""
    return ("\n  " + "-" * 60 + "\n" + "  即将删除这个设备：\n"
            + "    名称：" + name + "\n" + "    类别：" + cls + "\n"
            + "    状态：" + status + "\n" + "    实例：" + inst + "\n")


def summary(ok, failed, skipped):
    return "\n  本轮结果：成功 %d，失败 %d，跳过 %d\n\n  按回车继续..." % (ok, failed, skipped)


def bl_head(n):
    return "\n  ---------- 拉黑名单（%d 条） ----------\n" % n


def bl_row(i, name, cls, left, byname, inst):
    return ("   " + str(i).ljust(3) + "  " + pad(name or "(无名)", 30) + " [" + (cls or "-") + "]  "
            + left + ("  (按名字匹配)" if byname else "") + "\n        实例：" + inst + "\n")


def blist_head(n):
    return "拉黑名单共 %d 条：\n" % n


def blist_row(i, name, cls, left, inst):
    return "  %2d. %s %s %s\n     %s\n" % (i, pad(name or "(无名)", 30), pad(cls, 14), left, inst)
