"""Writes the AutoDiscovery progress window's form. New Computers Found (its New, Changed and
Silent tabs) is laid out by Qt layouts in discovery/newcomputerswindow.ui itself."""
import os
import sys
from uigen import edit, form, label

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'discovery')


def with_props(widget, props):
    """Adds property XML to a widget written by the helpers (before its closing tag)."""
    return widget[:-len('</widget>')] + props + '</widget>'


def auto_discovery():
    bar = ('<property name="textVisible"><bool>false</bool></property>'
           '<property name="value"><number>0</number></property>')
    right = '<property name="alignment"><set>Qt::AlignRight|Qt::AlignVCenter</set></property>'
    kids = [label('Label1', 'Computer Found :', 10, 8, 200, 16),
            label('Label2', '', 10, 24, 234, 22),
            label('Label3', 'IP Address :', 10, 56, 200, 16),
            label('Label4', '', 10, 72, 234, 22),
            label('Label6', '1', 8, 103, 40, 17),
            with_props(label('Label5', '', 132, 103, 100, 17), right),
            edit('ProgressBar1', 10, 120, 223, 16, cls='QProgressBar', extra=bar)]
    return form('AutoDiscoveryWindow', 'QDialog', 'TForm1', 'AutoDiscovery', 254, 142, kids)


if __name__ == '__main__':
    for name, text in [('autodiscoverywindow.ui', auto_discovery())]:
        with open(os.path.join(OUT, name), 'w') as f:
            f.write(text)
    sys.exit(0)
