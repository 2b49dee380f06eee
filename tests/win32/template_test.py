"""The options dialog template SAMPLEDLG, read from the shipped 32-bit DLL's
resource section."""
import unittest

from tests.win32 import pe
from tests.win32.paths import DLL32

RT_DIALOG = 5
LANG_JAPANESE = 0x0411

WS_POPUP, WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x80000000, 0x40000000, 0x10000000, 0x08000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT, DS_CENTER = 0x80, 0x40, 0x800
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX = 0, 1, 3
SS_LEFT, SS_BLACKFRAME = 0, 7
ES_RIGHT, ES_AUTOHSCROLL = 0x2, 0x80
UDS_ARROWKEYS = 0x20
# Predefined classes are stored as atoms.
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
SHOWN = WS_CHILD | WS_VISIBLE

DIALOG_STYLE = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER

# (id, class, text, style, x, y, cx, cy, note), in template order, which is
# also the creation and tab order.
CONTROLS = [
    (1, BUTTON, "OK", SHOWN | BS_DEFPUSHBUTTON | WS_TABSTOP, 24, 71, 40, 12, "OK, the default button"),
    (2, BUTTON, "ｷｬﾝｾﾙ", SHOWN | BS_PUSHBUTTON | WS_TABSTOP, 69, 71, 40, 12, "cancel, half-width katakana"),
    (1000, STATIC, "", SHOWN | SS_BLACKFRAME, 5, 29, 15, 14, "colour swatch: a black frame the dialog fills"),
    (1002, EDIT, "", SHOWN | ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 24, 8, 25, 12, "radius"),
    (1003, BUTTON, "背景色 選択", SHOWN | BS_PUSHBUTTON | WS_TABSTOP, 24, 29, 51, 14,
     "colour button; an ordinary space"),
    (0xFFFF, STATIC, "半径", SHOWN | SS_LEFT | WS_GROUP, 4, 10, 19, 8, "label, ID -1"),
    (1006, "msctls_updown32", "Spin1", WS_CHILD | UDS_ARROWKEYS | WS_DISABLED, 54, 9, 7, 11,
     "up-down control: hidden and disabled, the dialog creates the visible one"),
    (1007, BUTTON, "境界をぼかす", SHOWN | BS_AUTOCHECKBOX | WS_TABSTOP, 6, 51, 71, 12, "smoothing check box"),
]


class TemplateTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = pe.load(DLL32).resources()

    def template(self):
        return pe.dialog_template(self.resources[(RT_DIALOG, "SAMPLEDLG", LANG_JAPANESE)])

    def test_sampledlg_exists_in_japanese_only(self):
        dialogs = [key for key in self.resources if key[0] == RT_DIALOG]
        self.assertEqual(dialogs, [(RT_DIALOG, "SAMPLEDLG", LANG_JAPANESE)])

    def test_dialog_fields(self):
        t = self.template()
        self.assertEqual(t.style, DIALOG_STYLE)
        self.assertEqual(t.style, 0x90C808C0)
        self.assertEqual(t.ex_style, 0)
        self.assertEqual((t.x, t.y, t.cx, t.cy), (84, 36, 116, 91))
        self.assertEqual(t.menu, "", "no menu")
        self.assertEqual(t.class_name, "", "the default dialog class")
        self.assertEqual(t.caption, "丸角")
        self.assertEqual((t.point_size, t.font), (12, "ＭＳ Ｐゴシック"))
        self.assertIn(" ", t.font, "an ordinary space (U+0020) in the font name")

    def test_controls_in_template_order(self):
        t = self.template()
        self.assertEqual(len(t.controls), len(CONTROLS))
        for got, (cid, cls, text, style, x, y, cx, cy, note) in zip(t.controls, CONTROLS):
            with self.subTest(note):
                self.assertEqual(got.id, cid)
                self.assertEqual(got.class_name, cls)
                self.assertEqual(got.text, text)
                self.assertEqual(hex(got.style), hex(style))
                self.assertEqual(got.ex_style, 0)
                self.assertEqual((got.x, got.y, got.cx, got.cy), (x, y, cx, cy))
                self.assertEqual(got.creation_data, b"")


if __name__ == "__main__":
    unittest.main()
