"""Writes the forms of discovery/: the AutoDiscovery progress window and New Computers Found."""
import os
import sys
from xml.sax.saxutils import escape

from uigen import button, edit, form, label

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


def new_computers():
    tip = ('<property name="toolTip"><string>' + escape('Add new computers to database...') +
           '</string></property>')
    kids = [label('Label1', 'Computer Name', 8, 8, 121),
            label('Label2', 'IP Address', 136, 8, 121),
            edit('NameList', 8, 24, 121, 177, cls='QListWidget'),
            edit('IPlist', 136, 24, 121, 177, cls='QListWidget'),
            with_props(button('AddButton', 'Add', 264, 24, 75, 25), tip),
            button('CancelButton', 'Cancel', 264, 64, 75, 25)]
    tabs = ['NameList', 'IPlist', 'AddButton', 'CancelButton']
    return form('NewComputersWindow', 'QDialog', 'TForm3', 'New Computers Found', 348, 210, kids,
                tabs)


if __name__ == '__main__':
    for name, text in [('autodiscoverywindow.ui', auto_discovery()),
                       ('newcomputerswindow.ui', new_computers())]:
        with open(os.path.join(OUT, name), 'w') as f:
            f.write(text)
    sys.exit(0)
