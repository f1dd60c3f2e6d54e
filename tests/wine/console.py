"""A real console for the Wine checks: a command running in a tmux pane
whose screen the check reads and into which it types.

    con = Console(m, "shell command")   starts it (m.on_cleanup ends it)
    con.screen                          the last screen grabbed, scrollback included
    con.wait_for(text, count)           until COUNT screen lines hold TEXT (20 s)
    con.wait_for_prompt(count)          until COUNT menu prompts have been shown
    con.type(text)                      types TEXT and Enter
    con.press(key)                      a tmux key name, such as "C-c"
"""

import os
import re
import shutil
import subprocess
import time

TRIES, PAUSE = 80, 0.25


def have_tmux():
    return shutil.which("tmux") is not None


class Console:
    def __init__(self, m, command):
        self.env = m.p.env
        self.socket = "qfwine%d" % os.getpid()
        self.screen = ""
        m.on_cleanup(self.close)
        self._tmux("-f", "/dev/null", "new-session", "-d", "-s", "qf", "-x", "200", "-y", "50", command)
        self._tmux("set-option", "-t", "qf", "history-limit", "5000")

    def _tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True)

    def grab(self):
        r = self._tmux("capture-pane", "-p", "-J", "-S", "-", "-t", "qf")
        self.screen = r.stdout.decode("utf-8", "replace")
        return self.screen

    def _wait(self, enough):
        for _ in range(TRIES):
            if enough(self.grab()):
                return True
            time.sleep(PAUSE)
        return False

    def wait_for(self, text, count=1):
        return self._wait(lambda s: sum(text in line for line in s.split("\n")) >= count)

    def wait_for_prompt(self, count=1):
        # The pane drops trailing blanks: the menu prompt shows as a line "  >".
        return self._wait(lambda s: len(re.findall(r"(?m)^  >( |$)", s)) >= count)

    def type(self, text):
        if text:
            self._tmux("send-keys", "-t", "qf", "-l", text)
        self._tmux("send-keys", "-t", "qf", "Enter")

    def press(self, key):
        self._tmux("send-keys", "-t", "qf", key)

    def close(self):
        self._tmux("kill-server")
