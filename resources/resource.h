// Resource identifiers of MARLUNE.OCX.
#pragma once

#define IDS_MARLUNE 1            // "Marlune Control"
#define IDS_MARLUNE_PPG 2        // "Marlune Property Page"
#define IDS_MARLUNE_PPG_CAPTION 200  // "General"
#define IDB_MARLUNE 1            // toolbox bitmap
#define IDI_ABOUTDLL 201         // icon drawn in design mode
#define IDD_PROPPAGE_MARLUNE 200 // the property page's dialog
#define IDC_PLACEHOLDER 1000     // its only item
