// Resource identifiers of the plug-in's settings dialog.
#pragma once

#define IDD_SETTINGS 101
#define IDC_STATIC (-1)
