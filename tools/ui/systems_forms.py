"""Writes the forms of systems/: Add New System, System Info and the item entry form."""
import os
import sys

from uigen import button, combo, edit, form, group, label

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'systems')
GRID = ('qn::DBGrid', 'QTableView', 'tablemodel.h')
DBEDIT = ('qn::DBEdit', 'QLineEdit', 'dbcontrols.h')
DBTEXT = ('qn::DBText', 'QLabel', 'dbcontrols.h')
NAV = ('qn::DBNavigator', 'QWidget', 'dbcontrols.h')


def user_boxes(names, cls):
    company, first, last, phone, ext, loc, room, sec = names
    return [
        label('CompanyLabel', 'Company Name', 12, 28, 104), edit(company, 120, 24, 200, cls=cls)
        if cls != 'combo' else combo(company, 120, 24, 200, True),
        label('UserNameLabel', 'User Name', 12, 60, 104),
        edit(first, 120, 56, 96, cls=cls if cls != 'combo' else 'QLineEdit'),
        edit(last, 220, 56, 100, cls=cls if cls != 'combo' else 'QLineEdit'),
        label('PhoneLabel', 'User Phone/Ext.', 12, 92, 104),
        edit(phone, 120, 88, 140, cls=cls if cls != 'combo' else 'QLineEdit'),
        edit(ext, 264, 88, 56, cls=cls if cls != 'combo' else 'QLineEdit'),
        label('LocationLabel', 'Location', 12, 124, 104),
        edit(loc, 120, 120, 200, cls=cls if cls != 'combo' else 'QLineEdit'),
        label('RoomLabel', 'Room #', 12, 156, 104),
        edit(room, 120, 152, 200, cls=cls if cls != 'combo' else 'QLineEdit'),
        label('SecurityLabel', 'Security Level', 12, 188, 104),
        edit(sec, 120, 184, 200, cls=cls if cls != 'combo' else 'QLineEdit'),
    ]


def computer_panel(name_box, aliases, type_widget, cls):
    kids = [label('ComputerNameLabel', 'Name', 8, 12, 60), edit(name_box, 72, 8, 196, cls=cls),
            label('AddressLabel', 'Address', 8, 44, 60)]
    for i in range(4):
        kids.append(edit(f'IP{i + 1}', 72 + 50 * i, 40, 44, cls=cls))
    for i, a in enumerate(aliases):
        kids += [label(f'Alias{i + 1}Label', f'Alias {i + 1}', 8, 76 + 28 * i, 60),
                 edit(a, 72, 72 + 28 * i, 196, cls=cls)]
    kids += [label('TypeLabel', 'Type', 8, 188, 60), type_widget]
    return group('ComputerPanel', '', 336, 16, 280, 216, kids, cls='QFrame')


def item_group(name, title, x, prefix, fourth, fourth_label, grid, add, delete, add_text):
    kids = [label(f'{prefix}DescriptionLabel', 'Description :', 8, 28, 100),
            edit(f'{prefix}DescriptionEdit', 110, 24, 190),
            label(f'{prefix}ManufacturerLabel', 'Manufacturer :', 8, 56, 100),
            edit(f'{prefix}ManufacturerEdit', 110, 52, 190),
            label(f'{prefix}FourthLabel', fourth_label, 8, 84, 100), edit(fourth, 110, 80, 190),
            label(f'{prefix}SerialLabel', 'Serial # :', 8, 112, 100),
            edit(f'{prefix}SerialEdit', 110, 108, 190)] if prefix else []
    top = 140 if prefix else 24
    kids += [edit(grid, 8, top, 292, 232 - top, cls='qn::DBGrid'),
             button(add, add_text, 8, 240, 110), button(delete, 'Delete', 124, 240, 80)]
    return group(name, title, x, 284, 308, 274, kids)


def add_new_system():
    kids = [label('Label16', '', 0, 6, 640, 34),
            group('SysIDGroup', 'SysID Info', 8, 42, 624, 238,
                  user_boxes(['CompanyName', 'UserFirstEdit', 'UserLastEdit', 'UserPhoneEdit',
                              'UserExtEdit', 'LocationEdit', 'RoomEdit', 'SecurityEdit'], 'combo')
                  + [computer_panel('ComputerName', [f'Alias{i}' for i in range(1, 5)],
                                    combo('ComputerType', 72, 184, 196, False), 'QLineEdit')]),
            item_group('HardwareGroup', 'Hardware Info', 8, 'HW', 'HWModelEdit', 'Model # :',
                       'DBGrid2', 'HWAddButton', 'HWDeleteButton', 'Add Hardware'),
            item_group('SoftwareGroup', 'Software Info', 324, 'SW', 'SWLicenseEdit',
                       'License Key :', 'DBGrid1', 'SWAddButton', 'SWDeleteButton',
                       'Add Software'),
            button('SaveButton', 'Save', 376, 566, 80, default=True),
            button('CRAFButton', 'CRAF', 464, 566, 80),
            button('CancelButton', 'Cancel', 552, 566, 80)]
    tabs = ['UserFirstEdit', 'UserLastEdit', 'UserPhoneEdit', 'UserExtEdit', 'LocationEdit',
            'RoomEdit', 'SecurityEdit', 'ComputerName', 'IP1', 'IP2', 'IP3', 'IP4', 'Alias1',
            'Alias2', 'Alias3', 'Alias4', 'ComputerType', 'CompanyName',
            'HWDescriptionEdit', 'HWManufacturerEdit', 'HWModelEdit', 'HWSerialEdit', 'DBGrid2',
            'HWAddButton', 'HWDeleteButton', 'SWDescriptionEdit', 'SWManufacturerEdit',
            'SWLicenseEdit', 'SWSerialEdit', 'DBGrid1', 'SWAddButton', 'SWDeleteButton',
            'SaveButton', 'CRAFButton', 'CancelButton']
    return form('AddSystemWindow', 'QDialog', 'TForm18', 'Add New System', 640, 600, kids, tabs,
                [GRID])


def system_info():
    kids = [edit('DBText1', 400, 6, 232, 34, cls='qn::DBText'),
            edit('DBNavigator1', 8, 10, 60, 26, cls='qn::DBNavigator'),
            group('SysIDGroup', 'SysID Info', 8, 42, 624, 238,
                  user_boxes(['CNameEdit', 'UserFirstEdit', 'UserLastEdit', 'UserPhoneEdit',
                              'UserExtEdit', 'LocationEdit', 'RoomEdit', 'SecutiryEdit'],
                             'qn::DBEdit')
                  + [computer_panel('ComputerName',
                                    [f'ComputerAlias{i}' for i in range(1, 5)],
                                    edit('MachineType', 72, 184, 60, cls='qn::DBEdit'),
                                    'qn::DBEdit')]),
            item_group('HardwareGroup', 'Hardware Info', 8, '', None, None, 'DBGrid2',
                       'HAddButton', 'HDeleteButton', 'Add Hardware'),
            item_group('SoftwareGroup', 'Software Info', 324, '', None, None, 'DBGrid1',
                       'SAddButton', 'SDeleteButton', 'Add Software'),
            button('UpdateButton', 'Update', 376, 566, 80, default=True),
            button('CRAFButton', 'CRAF', 464, 566, 80),
            button('CancelButton', 'Cancel', 552, 566, 80)]
    tabs = ['CNameEdit', 'UserFirstEdit', 'UserLastEdit', 'UserPhoneEdit', 'UserExtEdit',
            'LocationEdit', 'RoomEdit', 'SecutiryEdit', 'ComputerName', 'IP1', 'IP2', 'IP3',
            'IP4', 'ComputerAlias1', 'ComputerAlias2', 'ComputerAlias3', 'ComputerAlias4',
            'MachineType', 'DBGrid2', 'HAddButton', 'HDeleteButton', 'DBGrid1', 'SAddButton',
            'SDeleteButton', 'UpdateButton', 'CRAFButton', 'CancelButton']
    return form('SystemInfoWindow', 'QDialog', 'TForm10', 'System Info', 640, 600, kids, tabs,
                [GRID, DBEDIT, DBTEXT, NAV])


def item_entry():
    disabled = '<property name="enabled"><bool>false</bool></property>' \
               '<property name="readOnly"><bool>true</bool></property>'
    kids = [label('SystemIDLabel', 'System ID :', 12, 16, 110),
            edit('SystemID', 128, 12, 200, extra=disabled),
            label('DescriptionLabel', 'Description :', 12, 48, 110),
            edit('Description', 128, 44, 260),
            label('ManufacturerLabel', 'Manufacturer :', 12, 80, 110),
            edit('Manufacturer', 128, 76, 260),
            label('FourthLabel', 'Model Number :', 12, 112, 110),
            edit('ModelNumber', 128, 108, 260),
            label('SerialNumberLabel', 'Serial Number :', 12, 144, 110),
            edit('SerialNumber', 128, 140, 260),
            button('SaveButton', 'Save', 128, 180, 80, default=True),
            button('NewButton', 'New Item', 218, 180, 80),
            button('CancelButton', 'Cancel', 308, 180, 80)]
    tabs = ['SystemID', 'Description', 'Manufacturer', 'ModelNumber', 'SerialNumber',
            'SaveButton', 'NewButton', 'CancelButton']
    return form('ItemEntryWindow', 'QDialog', 'TForm8', 'Hardware Entry Form', 400, 220, kids,
                tabs)


if __name__ == '__main__':
    for name, text in [('addsystemwindow.ui', add_new_system()),
                       ('systeminfowindow.ui', system_info()),
                       ('itementrywindow.ui', item_entry())]:
        with open(os.path.join(OUT, name), 'w') as f:
            f.write(text)
    sys.exit(0)
