// The identifiers TALO asks of its resource module: dialog templates, the control
// identifiers the dialog classes bind, strings, icons and bitmaps. Shared by the resource
// modules' .rc sources (windres reads it through the C preprocessor) and by TALO's code,
// so it holds plain #defines and nothing else.
#ifndef TALO_RES_IDS_H
#define TALO_RES_IDS_H

// ---- dialog templates ----

// ---- strings ----

// ---- controls ----

// ---- images: icons and bitmaps ----
// Icons: the tray icon by power source and charge band.
#define IDI_TRAY_UNKNOWN            130
#define IDI_TRAY_BATTERY_LOW        2067
#define IDI_TRAY_BATTERY_MID        2068
#define IDI_TRAY_BATTERY_HIGH       2069
#define IDI_TRAY_AC_CHARGING        2070
#define IDI_TRAY_AC                 2071
// Icons of the scheme dialogs: DC and AC page tabs, DC and AC column heads, the window icon.
#define IDI_TAB_DC                  2047
#define IDI_TAB_AC                  2048
#define IDI_COLUMN_AC               2050
#define IDI_COLUMN_DC               2051
#define IDI_SCHEME_DIALOG           2127
// Bitmaps of the skinned frame: header (stretched to the dialog width), logos for the
// 60-, 50- and 30-pixel headers, and the progress bar (10 pixels high, stretched).
#define IDB_HEADER                  2054
#define IDB_LOGO_LARGE              2055
#define IDB_LOGO_MEDIUM             2056
#define IDB_LOGO_SMALL              2057
#define IDB_PROGRESS_BAR            2091
// Tray menu bitmap.
#define IDB_TRAY_MENU               2009
// Balloon: power-view background, device-view slices (top, middle per row, bottom), state
// icons, the charging mark, and the state icon by charge band (named by the band's top).
#define IDB_BALLOON                 2059
#define IDB_BALLOON_TOP             9000
#define IDB_BALLOON_MIDDLE          9001
#define IDB_BALLOON_BOTTOM          9002
#define IDB_STATE_AC                2041
#define IDB_STATE_UNKNOWN           2043
#define IDB_STATE_DEVICE            2061
#define IDB_CHARGING_MARK           2115
#define IDB_CHARGE_0                2116
#define IDB_CHARGE_10               2117
#define IDB_CHARGE_20               2118
#define IDB_CHARGE_30               2119
#define IDB_CHARGE_40               2120
#define IDB_CHARGE_50               2121
#define IDB_CHARGE_60               2122
#define IDB_CHARGE_75               2123
#define IDB_CHARGE_85               2124
#define IDB_CHARGE_95               2125
#define IDB_CHARGE_100              2126
// Quick-switch scroll buttons: normal (also pressed) and highlighted.
#define IDB_SCROLL_LEFT             2063
#define IDB_SCROLL_LEFT_HOT         2064
#define IDB_SCROLL_RIGHT            2065
#define IDB_SCROLL_RIGHT_HOT        2066
// Icon chooser: the cell the icon button draws its face over.
#define IDB_ICON_CELL               2092
// Scheme icons n = 0 .. IDB_SCHEME_ICON_COUNT - 1: 60 x 60 at base + n, and the 90 x 90
// quick-switch slot images normal, highlighted and pressed at their bases + n.
#define IDB_SCHEME_ICON_COUNT       9
#define IDB_SCHEME_ICON_BASE        2072
#define IDB_SLOT_NORMAL_BASE        6800
#define IDB_SLOT_HOT_BASE           7000
#define IDB_SLOT_PRESSED_BASE       7200
#define IDB_SCHEME_ICON_0           2072
#define IDB_SCHEME_ICON_1           2073
#define IDB_SCHEME_ICON_2           2074
#define IDB_SCHEME_ICON_3           2075
#define IDB_SCHEME_ICON_4           2076
#define IDB_SCHEME_ICON_5           2077
#define IDB_SCHEME_ICON_6           2078
#define IDB_SCHEME_ICON_7           2079
#define IDB_SCHEME_ICON_8           2080
#define IDB_SLOT_NORMAL_0           6800
#define IDB_SLOT_NORMAL_1           6801
#define IDB_SLOT_NORMAL_2           6802
#define IDB_SLOT_NORMAL_3           6803
#define IDB_SLOT_NORMAL_4           6804
#define IDB_SLOT_NORMAL_5           6805
#define IDB_SLOT_NORMAL_6           6806
#define IDB_SLOT_NORMAL_7           6807
#define IDB_SLOT_NORMAL_8           6808
#define IDB_SLOT_HOT_0              7000
#define IDB_SLOT_HOT_1              7001
#define IDB_SLOT_HOT_2              7002
#define IDB_SLOT_HOT_3              7003
#define IDB_SLOT_HOT_4              7004
#define IDB_SLOT_HOT_5              7005
#define IDB_SLOT_HOT_6              7006
#define IDB_SLOT_HOT_7              7007
#define IDB_SLOT_HOT_8              7008
#define IDB_SLOT_PRESSED_0          7200
#define IDB_SLOT_PRESSED_1          7201
#define IDB_SLOT_PRESSED_2          7202
#define IDB_SLOT_PRESSED_3          7203
#define IDB_SLOT_PRESSED_4          7204
#define IDB_SLOT_PRESSED_5          7205
#define IDB_SLOT_PRESSED_6          7206
#define IDB_SLOT_PRESSED_7          7207
#define IDB_SLOT_PRESSED_8          7208

#endif
