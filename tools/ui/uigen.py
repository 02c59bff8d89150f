"""Small helpers for writing fixed-position Qt Designer forms (.ui) from Python.

The forms in this program place controls at given pixel positions; writing them through these
helpers keeps the XML regular. Run a window's generator script to rewrite its .ui file."""
from xml.sax.saxutils import escape


def rect(x, y, w, h):
    return (f'<property name="geometry"><rect><x>{x}</x><y>{y}</y><width>{w}</width>'
            f'<height>{h}</height></rect></property>')


def prop_bool(name, value):
    return f'<property name="{name}"><bool>{"true" if value else "false"}</bool></property>'


def label(name, text, x, y, w=100, h=17):
    return (f'<widget class="QLabel" name="{name}">{rect(x, y, w, h)}'
            f'<property name="text"><string>{escape(text)}</string></property></widget>')


def edit(name, x, y, w, h=23, cls="QLineEdit", extra=""):
    return f'<widget class="{cls}" name="{name}">{rect(x, y, w, h)}{extra}</widget>'


def combo(name, x, y, w, editable):
    return (f'<widget class="QComboBox" name="{name}">{rect(x, y, w, 23)}'
            f'{prop_bool("editable", editable)}</widget>')


def button(name, text, x, y, w=80, h=25, default=False):
    # The other buttons keep Qt's auto-default (Enter presses the focused button, and the
    # default one while the focus is in a box) in a form that has a default; see form().
    d = prop_bool("default", True) if default else AUTO_DEFAULT
    return (f'<widget class="QPushButton" name="{name}">{rect(x, y, w, h)}'
            f'<property name="text"><string>{escape(text)}</string></property>{d}</widget>')


AUTO_DEFAULT = '<!--auto-default-->'


def group(name, title, x, y, w, h, children, cls="QGroupBox"):
    t = f'<property name="title"><string>{escape(title)}</string></property>' if title else ''
    return f'<widget class="{cls}" name="{name}">{rect(x, y, w, h)}{t}{"".join(children)}</widget>'


def form(ui_class, base, name, title, w, h, children, tabstops=(), custom=()):
    body = ''.join(children)
    # Without a default button Qt would make the first button the default for Enter in a box.
    body = body.replace(AUTO_DEFAULT, '' if '"default"' in body else prop_bool('autoDefault', False))
    tabs = ''.join(f'<tabstop>{t}</tabstop>' for t in tabstops)
    cw = ''.join(f'<customwidget><class>{c}</class><extends>{e}</extends><header>{hd}</header>'
                 f'</customwidget>' for c, e, hd in custom)
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<ui version="4.0">\n<class>{ui_class}</class>\n'
            f'<widget class="{base}" name="{name}">{rect(0, 0, w, h)}'
            f'<property name="windowTitle"><string>{escape(title)}</string></property>'
            f'{body}</widget>\n'
            + (f'<customwidgets>{cw}</customwidgets>\n' if cw else '')
            + (f'<tabstops>{tabs}</tabstops>\n' if tabs else '')
            + '<resources/>\n<connections/>\n</ui>\n')
