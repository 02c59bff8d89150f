"""Writes the forms of reports/: the report preview window.

The preview is resizable, so unlike the fixed-position forms it uses layouts."""
import os
from xml.sax.saxutils import escape

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'reports')


def button(name, text, tip):
    return (f'<item><widget class="QPushButton" name="{name}">'
            f'<property name="text"><string>{escape(text)}</string></property>'
            f'<property name="toolTip"><string>{escape(tip)}</string></property>'
            f'<property name="autoDefault"><bool>false</bool></property></widget></item>')


def label(name, text):
    return (f'<item><widget class="QLabel" name="{name}">'
            f'<property name="text"><string>{escape(text)}</string></property></widget></item>')


def spacer(name):
    return (f'<item><spacer name="{name}"><property name="orientation"><enum>Qt::Horizontal</enum>'
            f'</property></spacer></item>')


def preview():
    bar = ''.join([
        button('PrintButton', 'Print...', 'Print the report'),
        button('SaveButton', 'Save as PDF...', 'Save the report as a PDF file'),
        button('ZoomOutButton', 'Zoom Out', 'Smaller pages'),
        label('ZoomLabel', '100%'),
        button('ZoomInButton', 'Zoom In', 'Larger pages'),
        spacer('BarSpacer'),
        label('PageLabel', ''),
        button('CloseButton', 'Close', 'Close the preview'),
    ])
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<ui version="4.0">\n<class>ReportPreview</class>\n'
            '<widget class="QDialog" name="ReportPreview">'
            '<property name="geometry"><rect><x>0</x><y>0</y><width>900</width><height>760</height>'
            '</rect></property>'
            '<property name="windowTitle"><string>Print Preview</string></property>'
            '<layout class="QVBoxLayout" name="MainLayout">'
            f'<item><layout class="QHBoxLayout" name="BarLayout">{bar}</layout></item>'
            '<item><widget class="QScrollArea" name="PageArea">'
            '<property name="widgetResizable"><bool>false</bool></property>'
            '<property name="alignment"><set>Qt::AlignHCenter|Qt::AlignTop</set></property>'
            '</widget></item>'
            '</layout></widget>\n<resources/>\n<connections/>\n</ui>\n')


if __name__ == '__main__':
    with open(os.path.join(OUT, 'reportpreview.ui'), 'w', encoding='utf-8') as f:
        f.write(preview())
