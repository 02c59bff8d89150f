"""Writes the form of resources/: the Resources window."""
import os
import sys
from xml.sax.saxutils import escape

from uigen import button, combo, edit, form, group, label, rect

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'resources')
GRID = ('qn::DBGrid', 'QTableView', 'tablemodel.h')


def radio(name, text, x, y, w):
    return (f'<widget class="QRadioButton" name="{name}">{rect(x, y, w, 23)}'
            f'<property name="text"><string>{escape(text)}</string></property></widget>')


def resources():
    boxes = [label('MainRLabel', 'Main :', 12, 28, 96), combo('MainRCombo', 110, 24, 160, False),
             label('CategoryRLabel', 'Category :', 290, 28, 86),
             combo('CategoryRCombo', 380, 24, 180, False),
             label('ItemLabel', 'Item :', 12, 60, 96), edit('ItemEdit', 110, 56, 450),
             label('SerialLabel', 'Serial No. :', 12, 92, 96), edit('SerialEdit', 110, 88, 170),
             label('PartLabel', 'Part No. :', 290, 92, 86), edit('PartEdit', 380, 88, 180),
             label('ModelLabel', 'Model No. :', 12, 124, 96), edit('ModelEdit', 110, 120, 450),
             label('ManufacturerLabel', 'Manufacturer :', 12, 156, 96),
             edit('ManufacturerEdit', 110, 152, 450),
             button('AddRButton', 'Add', 390, 186, 80),
             button('CancelRButton', 'Cancel', 480, 186, 80)]
    system = [radio('ExistingSystemRadio', 'Existing System', 12, 28, 140),
              combo('ExistingCombo', 160, 28, 180, True),
              button('AddResourceButton', 'Add To System', 352, 27, 110),
              button('ClearResourceButton', 'Clear Boxes', 470, 27, 94)]
    kids = [label('MainComboLabel', 'Main Category Filter', 12, 10, 200),
            combo('MainCombo', 12, 30, 200, False),
            label('CategoryComboLabel', 'Sub Category Filter', 230, 10, 200),
            combo('CategoryCombo', 230, 30, 200, False),
            edit('DBGrid1', 12, 64, 576, 222, cls='qn::DBGrid'),
            group('ResourceGroup', '', 12, 64, 576, 222, boxes),
            button('AddButton', 'Add Resource', 12, 296, 110),
            button('Button1', 'Delete Resource', 130, 296, 120),
            button('CloseButton', 'Close', 508, 296, 80),
            group('AddRadioGroup', 'Add Resource to System', 12, 332, 576, 70, system)]
    tabs = ['MainCombo', 'CategoryCombo', 'DBGrid1', 'MainRCombo', 'CategoryRCombo', 'ItemEdit',
            'SerialEdit', 'PartEdit', 'ModelEdit', 'ManufacturerEdit', 'AddRButton',
            'CancelRButton', 'AddButton', 'Button1', 'CloseButton', 'ExistingSystemRadio',
            'ExistingCombo', 'AddResourceButton', 'ClearResourceButton']
    return form('ResourcesWindow', 'QDialog', 'TForm4', 'Resources...', 600, 414, kids, tabs,
                [GRID])


if __name__ == '__main__':
    with open(os.path.join(OUT, 'resourceswindow.ui'), 'w') as f:
        f.write(resources())
    sys.exit(0)
