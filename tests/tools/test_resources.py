#!/usr/bin/env python3
"""Checks the dialog templates and help topics as windres compiles them.

Run from anywhere:  python3 tests/tools/test_resources.py
resources/dialogs.rc and resources/help.rc are compiled to a .res file with
the MinGW-w64 windres and the templates and strings are decoded from it, so
the checks see what the program will load, default styles of the resource
compiler included. Skipped where windres is not installed. The help page
help/KivvetLE.html is checked against the same topics.
"""

import html.parser
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RESOURCES = os.path.join(ROOT, "resources")
HELP_PAGE = os.path.join(ROOT, "help", "KivvetLE.html")
WINDRES = shutil.which("x86_64-w64-mingw32-windres") or shutil.which("i686-w64-mingw32-windres")

RT_STRING, RT_DIALOG = 6, 5
FONT = (9, "ＭＳ Ｐゴシック")
PAGE_STYLE = 0x40 | 0x40000000 | 0x08000000 | 0x00C00000  # DS_SETFONT|WS_CHILD|WS_DISABLED|WS_CAPTION
CHILD = 0x50000000          # WS_CHILD | WS_VISIBLE
EDIT = CHILD | 0x00800000 | 0x00010000 | 0x0080   # WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL
PASSWORD = EDIT | 0x0020
NUMBER = EDIT | 0x2000
SPIN = CHILD | 0xB6
CHECK = CHILD | 0x00010000 | 0x3       # WS_TABSTOP | BS_AUTOCHECKBOX
OPTION = CHILD | 0x9                   # BS_AUTORADIOBUTTON, no WS_TABSTOP, no WS_GROUP
PUSH = CHILD | 0x00010000              # WS_TABSTOP | BS_PUSHBUTTON
LABEL = CHILD | 0x00020000             # WS_GROUP | SS_LEFT
CHOICE = CHILD | 0x00010000 | 0x00200000 | 0x3  # WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST
BUTTON, EDITCLASS, STATIC, COMBOBOX = 0x80, 0x81, 0x82, 0x85
UPDOWN = "msctls_updown32"
WS_EX_RIGHT = 0x1000

# (id, class, rectangle, text, style, extended style), in template order.
PAGES = {
    "SETTINGDLG1": ("基本設定にゃ", (199, 213), [
        (116, COMBOBOX, (1, 0, 99, 80), "", CHOICE, 0),
        (117, BUTTON, (103, 0, 30, 13), "追加", PUSH, 0),
        (118, BUTTON, (135, 0, 30, 13), "削除", PUSH, 0),
        (119, BUTTON, (167, 0, 26, 13), "上へ", PUSH, 0),
        (-1, STATIC, (1, 18, 192, 8), "アカウント名を入力してにゃ", LABEL, 0),
        (110, EDITCLASS, (1, 26, 192, 12), "", EDIT, 0),
        (120, STATIC, (1, 43, 192, 8), "POPサーバのアドレスを入力してにゃ（必須）", LABEL, 0),
        (101, EDITCLASS, (1, 51, 146, 12), "", EDIT, 0),
        (115, COMBOBOX, (151, 51, 42, 40), "", CHOICE, 0),
        (-1, STATIC, (1, 67, 192, 8), "ユーザーIDを入力してにゃ（必須）", LABEL, 0),
        (102, EDITCLASS, (1, 75, 192, 12), "", EDIT, 0),
        (-1, STATIC, (1, 91, 96, 8), "パスワードを入力してにゃ", LABEL, 0),
        (103, EDITCLASS, (1, 99, 192, 12), "", PASSWORD, 0),
        (114, BUTTON, (100, 90, 93, 9), "暗号化して保存にゃ", CHECK, 0),
        (121, STATIC, (0, 115, 193, 8), "POP3ポート番号を入力してにゃ（通常は110番）", LABEL, 0),
        (104, EDITCLASS, (1, 123, 44, 12), "", NUMBER, WS_EX_RIGHT),
        (105, UPDOWN, (37, 123, 9, 12), "", SPIN, 0),
        (111, COMBOBOX, (49, 123, 144, 48), "", CHOICE, 0),
        (106, EDITCLASS, (1, 143, 44, 12), "", NUMBER, WS_EX_RIGHT),
        (107, UPDOWN, (37, 143, 9, 12), "", SPIN, 0),
        (-1, STATIC, (49, 147, 144, 8), "分おきに到着確認するにゃ", LABEL, 0),
        (108, BUTTON, (1, 163, 192, 10), "起動と同時に到着確認するにゃ", CHECK, 0),
        (109, BUTTON, (1, 175, 192, 12), "APOPで認証するにゃ", CHECK, 0),
        (113, BUTTON, (1, 187, 192, 12), "高速スキャンするにゃ（UIDLを一度に受け取る）", CHECK, 0),
        (112, BUTTON, (1, 199, 192, 10), "ログオンしたら起動するにゃ", CHECK, 0),
    ]),
    "SETTINGDLG2": ("サウンド設定にゃ", (200, 140), [
        (201, BUTTON, (4, 0, 190, 8), "到着をサウンドでお知らせするにゃ", CHECK, 0),
        (202, BUTTON, (16, 12, 180, 8), "鳴き声でお知らせするにゃ", OPTION, 0),
        (203, BUTTON, (16, 24, 180, 8), "BEEP音でお知らせするにゃ", OPTION, 0),
        (204, BUTTON, (4, 44, 192, 8), "新着メールのみサウンドでお知らせするにゃ", CHECK, 0),
        (208, BUTTON, (4, 54, 192, 8), "見るまで知らせ続けるにゃ", CHECK, 0),
        (205, BUTTON, (4, 64, 192, 8), "鳴き声を変更するにゃ", CHECK, 0),
        (206, EDITCLASS, (12, 76, 160, 12), "", EDIT, 0),
        (207, BUTTON, (172, 76, 24, 12), "参照", PUSH, 0),
        (211, BUTTON, (4, 98, 192, 8), "取り込み中は静かにするにゃ", CHECK, 0),
        (212, BUTTON, (4, 112, 192, 8), "この時間は静かにするにゃ", CHECK, 0),
        (213, EDITCLASS, (16, 124, 32, 12), "", EDIT, 0),
        (-1, STATIC, (52, 126, 20, 8), "から", LABEL, 0),
        (214, EDITCLASS, (72, 124, 32, 12), "", EDIT, 0),
        (-1, STATIC, (108, 126, 20, 8), "まで", LABEL, 0),
    ]),
    "SETTINGDLG3": ("メールソフト設定にゃ", (200, 140), [
        (-1, STATIC, (4, 0, 192, 8), "使用するメールソフトの場所を入力してにゃ", LABEL, 0),
        (301, EDITCLASS, (4, 8, 168, 12), "", EDIT, 0),
        (302, BUTTON, (172, 8, 24, 12), "参照", PUSH, 0),
        (-1, STATIC, (4, 28, 192, 8), "メールソフトを起動するときのパラメータを入力してにゃ", LABEL, 0),
        (303, EDITCLASS, (4, 36, 192, 12), "", EDIT, 0),
    ]),
    "SETTINGDLG4": ("表示設定にゃ", (200, 140), [
        (-1, STATIC, (4, 0, 192, 8), "ペットアイコンのツールチップテキストに", LABEL, 0),
        (401, BUTTON, (16, 12, 180, 8), "アカウントを表示するにゃ", OPTION, 0),
        (402, BUTTON, (16, 24, 180, 8), "メールの数を表示するにゃ", OPTION, 0),
        (403, BUTTON, (16, 36, 180, 8), "アカウントとメールの数を表示するにゃ", OPTION, 0),
        (404, BUTTON, (4, 56, 192, 8), "新着メールのみ点滅でお知らせするにゃ", CHECK, 0),
        (405, BUTTON, (4, 68, 192, 8), "新着メールを通知でもお知らせするにゃ", CHECK, 0),
        (406, BUTTON, (4, 80, 192, 8), "差出人と件名を表示するにゃ", CHECK, 0),
        (411, BUTTON, (4, 92, 192, 8), "新着の数をアイコンに出すにゃ", CHECK, 0),
    ]),
}

# Help context ids of the settings pages; the up-down controls use 104 and
# 106, the quiet hours' time boxes 212, the mailbox list's buttons 116.
TOPICS = [101, 102, 103, 104, 106, 108, 109, 110, 111, 112, 113, 114, 115, 116,
          201, 202, 203, 204, 205, 206, 207, 208, 211, 212, 301, 302, 303, 401, 402, 403, 404, 405, 406,
          411]


class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return value

    def name(self):
        """A string or an ordinal (0xFFFF followed by the number)."""
        if self.data[self.pos:self.pos + 2] == b"\xff\xff":
            self.pos += 2
            return self.take("H")
        return self.text()

    def align(self):
        self.pos = (self.pos + 3) & ~3


def read_res(data):
    """{(type, name): (language, bytes)} of a .res file."""
    found = {}
    pos = 0
    while pos < len(data):
        size, header = struct.unpack_from("<II", data, pos)
        r = Reader(data, pos + 8)
        kind, name = r.name(), r.name()
        r.align()
        _, _, language = r.take("IHH")
        body = data[pos + header:pos + header + size]
        if size:
            found[(kind, name)] = (language, body)
        pos = (pos + header + size + 3) & ~3
    return found


def read_dialog(data):
    r = Reader(data)
    version, signature = r.take("HH")
    extended = (version, signature) == (1, 0xFFFF)
    if extended:
        _, exstyle, style = r.take("III")
    else:
        r.pos = 0
        style, exstyle = r.take("II")
    count, x, y, cx, cy = r.take("Hhhhh")
    menu, cls, title = r.name(), r.name(), r.text()
    font = None
    if style & 0x40:
        points = r.take("H")
        if extended:
            r.take("HBB")
        font = (points, r.text())
    controls = []
    for _ in range(count):
        r.align()
        if extended:
            _, ex, st = r.take("III")
            x_, y_, w, h = r.take("hhhh")
            ident = r.take("i")
        else:
            st, ex = r.take("II")
            x_, y_, w, h = r.take("hhhh")
            ident = r.take("h")
        klass, text = r.name(), r.name()
        extra = r.take("H")
        r.pos += extra
        controls.append((ident, klass.lower() if isinstance(klass, str) else klass,
                         (x_, y_, w, h), text, st, ex))
    return dict(extended=extended, style=style, exstyle=exstyle, rect=(x, y, cx, cy),
                menu=menu, cls=cls, title=title, font=font, controls=controls)


def read_strings(found):
    strings = {}
    for (kind, block), (_, body) in found.items():
        if kind != RT_STRING:
            continue
        r = Reader(body)
        for i in range(16):
            length = r.take("H")
            if length:
                strings[(block - 1) * 16 + i] = body[r.pos:r.pos + 2 * length].decode("utf-16-le")
            r.pos += 2 * length
    return strings


@unittest.skipUnless(WINDRES, "MinGW-w64 windres is not installed")
class CompiledResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.found = {}
        with tempfile.TemporaryDirectory() as tmp:
            for script in ("dialogs.rc", "help.rc"):
                out = os.path.join(tmp, script + ".res")
                subprocess.run([WINDRES, "-I", RESOURCES, "-O", "res",
                                os.path.join(RESOURCES, script), out],
                               check=True, capture_output=True)
                with open(out, "rb") as f:
                    cls.found.update(read_res(f.read()))

    def dialog(self, name):
        self.assertIn((RT_DIALOG, name), self.found)
        language, body = self.found[(RT_DIALOG, name)]
        self.assertEqual(language, 0x0411)
        return read_dialog(body)

    def test_pages_hold_the_tabled_controls_in_tab_order(self):
        for name, (caption, size, controls) in PAGES.items():
            with self.subTest(name):
                d = self.dialog(name)
                self.assertTrue(d["extended"])
                self.assertEqual(d["style"], PAGE_STYLE)
                self.assertEqual(d["exstyle"], 0x400)  # WS_EX_CONTEXTHELP
                self.assertEqual(d["rect"], (0, 0) + size)
                self.assertEqual((d["menu"], d["cls"]), ("", ""))
                self.assertEqual(d["title"], caption)
                self.assertEqual(d["font"], FONT)
                for got, want in zip(d["controls"], controls):
                    self.assertEqual(got, want)
                self.assertEqual(len(d["controls"]), len(controls))

    def test_splash_template_is_the_classic_form(self):
        d = self.dialog("TITLEDLG")
        self.assertFalse(d["extended"])
        self.assertEqual((d["style"], d["exstyle"]), (0x80800A40, 0))
        self.assertEqual((d["rect"], d["title"], d["font"]), ((0, 0, 150, 80), "", FONT))
        self.assertEqual(d["controls"], [
            (101, STATIC, (4, 4, 14, 15), "", 0x5000120E, 0),
            (102, STATIC, (0, 0, 100, 8), "Version", 0x50020000, 0),
        ])

    def test_every_context_id_has_a_short_topic_in_the_cats_voice(self):
        strings = read_strings(self.found)
        self.assertEqual(sorted(strings), TOPICS)
        for ident, text in strings.items():
            with self.subTest(ident):
                # The program reads them in the Japanese code page.
                self.assertLess(len(text.encode("cp932")), 200)
                self.assertTrue(text.endswith("にゃ。") or text.endswith("にゃ（必須）。"), text)

    def test_help_page_has_a_section_for_every_topic(self):
        page = HelpPage.parse()
        for ident in TOPICS:
            with self.subTest(ident):
                self.assertIn("topic-%d" % ident, page.ids)


class HelpPage(html.parser.HTMLParser):
    """Collects the ids, links and tags of the help page."""

    @classmethod
    def parse(cls):
        page = cls()
        with open(HELP_PAGE, encoding="utf-8") as f:
            page.text = f.read()
        page.feed(page.text)
        page.close()
        return page

    def __init__(self):
        super().__init__()
        self.ids, self.links, self.tags, self.meta = [], [], set(), []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags.add(tag)
        if "id" in attrs:
            self.ids.append(attrs["id"])
        for key in ("href", "src", "action"):
            if key in attrs:
                self.links.append(attrs[key])
        if tag == "meta":
            self.meta.append(attrs)


class HelpPageOnItsOwn(unittest.TestCase):
    def test_page_is_utf8_without_scripts_or_links_outside_itself(self):
        page = HelpPage.parse()
        self.assertIn({"charset": "utf-8"}, page.meta)
        self.assertNotIn("script", page.tags)
        self.assertFalse(re.search(r"(?i)\bon[a-z]+\s*=", page.text), "event handler")
        self.assertEqual(len(page.ids), len(set(page.ids)), "an id used twice")
        for link in page.links:
            with self.subTest(link):
                self.assertTrue(link.startswith("#"), "link out of the page")
                self.assertIn(link[1:], page.ids)

    def test_page_tells_what_the_program_is(self):
        page = HelpPage.parse()
        self.assertIn("about", page.ids)
        # The version the title window shows, from resources/version.h.
        with open(os.path.join(RESOURCES, "version.h"), encoding="utf-8") as f:
            header = f.read()
        version = ".".join(re.search(r"^#define KIVVET_VERSION_%s (\d+)$" % part, header, re.M).group(1)
                           for part in ("MAJOR", "MINOR"))
        for word in (version, "KivvetLE.cfg", "KivvetLE.log", "-W", "-TOFF"):
            self.assertIn(word, page.text)


if __name__ == "__main__":
    unittest.main()
