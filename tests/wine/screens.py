"""The program's screen texts that the Wine checks compare output with.

Field widths count bytes, as the program's printf-style formatting does.
"""

DEFAULT_KEYS = ["smart-camara", "smart-camera", "smartcamara", "smartcamera",
                "smart cam", "smartcam", "智慧摄像机", "智能摄像"]
KEYS_LINE = "   匹配关键词：" + "".join(k + " " for k in DEFAULT_KEYS)
RULE = "  " + "=" * 60 + "\n"
TITLE = "     Quillfen  v2   ·   扫描 / 手动删除 / 拉黑"
SCANNING = "  正在扫描设备...\n"
NOTHING = "  （没找到匹配的设备）\n\n"
CLOSING = "\n  日志：device_cleanup_log.txt    拉黑名单：blacklist.tsv\n  Vorin告辞，嗷呜——！\n\n"
FAILED_HINT = "  （多半是权限不足，或设备正在被使用）"


def pad(s, width):
    return s + " " * max(0, width - len(s.encode("utf-8")))


def banner(credit, key=None, force=False, bl=0):
    """CREDIT is the fourth line as the program printed it (its shape is a
    check of its own)."""
    keys = KEYS_LINE if key is None else "   匹配关键词：" + key + "（自定义）"
    risk = "已关闭（--force）" if force else "开启（内置/系统设备会额外询问）"
    return ("\n" + RULE + TITLE + "\n" + credit + "\n" + RULE + keys + "\n"
            + "   风险提示：" + risk + "\n" + "   拉黑名单：%d 条在用\n\n" % bl)


def header():
    return "  序号  状态   保护  已拉黑  " + pad("设备名", 32) + " " + pad("类别", 14) + " 实例ID\n"


def row(n, status, lock, bl, name, cls, inst):
    return ("  " + str(n).ljust(4) + "  " + pad(status, 4) + "  " + pad(lock, 4) + "  " + pad(bl, 6)
            + "  " + pad(name, 32) + " " + pad(cls, 14) + " " + inst + "\n")


def builtin_note(n):
    return "\n  [标记] %d 个属于内置/系统设备（列标「锁」），删除前会额外问你一句是否承担风险\n" % n


def blist_head(n):
    return "拉黑名单共 %d 条：\n" % n


def blist_row(i, name, cls, left, inst):
    return "  %2d. %s %s %s\n     %s\n" % (i, pad(name, 30), pad(cls, 14), left, inst)
