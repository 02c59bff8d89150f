"""Writes the forms of search/ and hosts/: IP Address Search and IP Address View."""
import os

from uigen import button, combo, edit, form, group, label, prop_bool

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
GRID = ('qn::DBGrid', 'QTableView', 'tablemodel.h')


def search():
    items = ['IP Address', 'Alias', 'Office Number', 'Computer Name', 'User Name', 'SysID']
    radios = [f'<widget class="QRadioButton" name="SearchItem{i}"><property name="geometry"><rect>'
              f'<x>10</x><y>{18 + 16 * i}</y><width>170</width><height>16</height></rect></property>'
              f'<property name="text"><string>{t}</string></property></widget>'
              for i, t in enumerate(items)]
    kids = [group('SearchGroup', 'Select a Search Criteria', 8, 16, 185, 129, radios),
            # The prompt gets two lines of its own below the criteria, which moves the list and
            # the buttons down by that much.
            label('Label1', '', 8, 148, 188, 32).replace(
                '</widget>', prop_bool('wordWrap', True) + '</widget>'),
            combo('SearchList', 8, 184, 185, True),
            button('FindButton', 'Find', 8, 216, 75, default=True),
            button('CancelButton', 'Cancel', 120, 216, 75)]
    return form('SearchWindow', 'QDialog', 'TForm2', 'IP Address Search', 204, 247, kids,
                ['SearchItem0', 'SearchList', 'FindButton', 'CancelButton'])


def view():
    kids = [edit('DBGrid', 8, 8, 809, 329, cls='qn::DBGrid'),
            button('OpenButton', 'Open', 203, 344, 75, default=True),
            button('ExportButton', 'Export', 375, 344, 75),
            button('CancelButton', 'Cancel', 547, 344, 75)]
    return form('IPViewWindow', 'QDialog', 'TForm5', 'IP Address View', 826, 376, kids,
                ['DBGrid', 'OpenButton', 'ExportButton', 'CancelButton'], [GRID])


if __name__ == '__main__':
    with open(os.path.join(ROOT, 'search', 'searchwindow.ui'), 'w') as f:
        f.write(search())
    with open(os.path.join(ROOT, 'hosts', 'ipviewwindow.ui'), 'w') as f:
        f.write(view())
