// The identifiers TALO asks of its resource module: dialog templates, the control
// identifiers the dialog classes bind, strings, icons and bitmaps. Shared by the resource
// modules' .rc sources (windres reads it through the C preprocessor) and by TALO's code,
// so it holds plain #defines and nothing else.
#ifndef TALO_RES_IDS_H
#define TALO_RES_IDS_H

// ---- dialog templates ----
#define IDD_ABOUT               100
#define IDD_SCHEME_PAGE         104   // the AC and the DC setting page share it
#define IDD_BALLOON             110
#define IDD_HUB                 129   // the hidden main window, never shown
#define IDD_SCHEME_MAIN         132
#define IDD_BATTERY_STATUS      133
#define IDD_SCHEME_EDIT         134
#define IDD_SCHEME_OPTIONS      135
#define IDD_CHANGE_ICON         136
#define IDD_QUICK_SWITCH        137
#define IDD_DEVICE_SHOW         2045
#define IDD_WARNING             2128
#define IDD_CONFIRM             2129

// ---- strings ----
// Scheme dialogs: labels and headings (102-105 and 109 serve the main and the edit dialog).
#define IDS_SCHEME_NAME_LABEL           102
#define IDS_EFFECTS_HEADING             103
#define IDS_ON_BATTERY                  104   // DC column head and DC page caption
#define IDS_ON_AC                       105   // AC column head and AC page caption
#define IDS_SETTINGS_HEADING            109
// The frame's registered-mark label.
#define IDS_REGISTERED_MARK             114
// Display options dialog.
#define IDS_OPTIONS_HOTKEY_PREFIX       115   // followed by the hotkey's description and ")."
#define IDS_OPTIONS_TITLE               116
#define IDS_OPTIONS_LIST_HEADING        117
#define IDS_OPTIONS_SCHEME_COLUMN       118
// Tray menu (119 also titles the battery dialog).
#define IDS_BATTERY_STATUS              119
#define IDS_MENU_SCHEMES                126
#define IDS_MENU_EXIT                   127
#define IDS_MENU_ABOUT                  131
// Battery dialog: the group boxes and the four column headings.
#define IDS_BATTERY_SELECT_GROUP        120
#define IDS_BATTERY_INFO_GROUP          121
#define IDS_BATTERY_LEFT_NAME_HEADING   122
#define IDS_BATTERY_LEFT_VALUE_HEADING  123
#define IDS_BATTERY_RIGHT_NAME_HEADING  124
#define IDS_BATTERY_RIGHT_VALUE_HEADING 125
// Icon chooser and its button.
#define IDS_CHANGE_ICON_TITLE           128
#define IDS_CHANGE_ICON_PROMPT          129
#define IDS_CHANGE_ICON_BUTTON          150
// Shown in place of the AC bar of the effect "Battery Life".
#define IDS_NOT_RELEVANT_ON_AC          130
// About dialog.
#define IDS_ABOUT_PRODUCT               132
#define IDS_ABOUT_VERSION               133
#define IDS_ABOUT_COPYRIGHT             134
#define IDS_ABOUT_DESCRIPTION           135
// Balloon.
#define IDS_BALLOON_SHOW_DEVICES        136   // link of the power view
#define IDS_BALLOON_DEVICES_OFF         137   // first line of the device view
#define IDS_BALLOON_SHOW_POWER          138   // link of the device view
#define IDS_BALLOON_FULLY_CHARGED       157
#define IDS_BALLOON_STATE_UNKNOWN       158
#define IDS_BALLOON_REMAINING           159   // followed by the remaining time
#define IDS_BALLOON_ON_AC               160
#define IDS_BALLOON_BATTERY_LOW         161
#define IDS_BALLOON_CHARGING            162   // followed by ": %d%%"
#define IDS_BATTERY_NAME                163   // balloon: followed by ": %d%%"; selector: followed by the number
// Device dialog.
#define IDS_DEVICE_PROMPT               139
#define IDS_DEVICE_DONT_ASK             140
#define IDS_DEVICE_TITLE                164
// Display options: the device dialog choice.
#define IDS_OPTIONS_DEVICE_LABEL        141
#define IDS_OPTIONS_DEVICE_ASK          142
// Scheme main dialog messages.
#define IDS_DELETE_FAILED               143
#define IDS_DELETE_DONE                 144
#define IDS_DELETE_CONFIRM              145
#define IDS_TOO_MANY_SCHEMES            147
// Scheme edit dialog messages.
#define IDS_CREATE_FAILED               146
#define IDS_NAME_EMPTY                  151
#define IDS_NAME_TOO_LONG               152
#define IDS_NAME_EXISTS                 153
#define IDS_AC_PAGE_UNSEEN              154
#define IDS_DC_PAGE_UNSEEN              155
#define IDS_VALUE_REFUSED               180   // %ls: the setting, %ls: the source (104 or 105)
// The message box for a scheme chosen from the tray menu that no longer exists.
#define IDS_SCHEME_GONE_CAPTION         148
#define IDS_SCHEME_GONE_TEXT            149
// Battery dialog values.
#define IDS_NO_BATTERY                  156   // also the balloon's second line on AC without a battery
#define IDS_TECHNOLOGY_PRIMARY          165
#define IDS_TECHNOLOGY_RECHARGEABLE     166
#define IDS_BATTERY_UNKNOWN             167   // status and technology not known
#define IDS_BATTERY_POWER_ONLINE        168
#define IDS_BATTERY_TIME_UNIT           169
#define IDS_BATTERY_DISCHARGING         170
#define IDS_BATTERY_CHARGING            171
#define IDS_BATTERY_CRITICAL            172

// The installed catalogue's texts in the module's language, keyed by a stable scheme: a
// power variable by its number (zora_vars::Number), an option by its variable's number and
// its place in the variable's list, an effect, a default scheme and a battery row by their
// place in their files. TALO shows the installed file's text where the module lacks one.
#define IDS_VARIABLE_NAME_BASE          10000 // + variable number: [variable] Name
#define IDS_DEVICE_NAME_BASE            10100 // + variable number: [SchemeItemList] DeviceName<i>
#define IDS_EFFECT_NAME_BASE            10200 // + e: [Effect<e>] Name
#define IDS_EFFECT_DESCRIPTION_BASE     10250 // + e: [Effect<e>] Description
#define IDS_DEFAULT_SCHEME_NAME_BASE    10300 // + d: [Scheme <d>] SchemeName
#define IDS_DEFAULT_SCHEME_DESC_BASE    10350 // + d: the default scheme's description
#define IDS_BATTERY_BA_LABEL_BASE       10400 // + d: [BatteryInforList] BADescription<d>
#define IDS_BATTERY_BEA_LABEL_BASE      10450 // + d: [BatteryInforList] BEADescription<d>
#define IDS_CATALOGUE_SLOTS             50    // room per kind above
#define IDS_OPTION_TEXT_BASE            12000 // + number x IDS_OPTION_SLOTS + d: [variable] DescOption<d>
#define IDS_OPTION_SLOTS                32
#define IDS_OPTION_TEXT(number, option) (IDS_OPTION_TEXT_BASE + (number) * IDS_OPTION_SLOTS + (option))

// ---- controls ----
// Skinned frame: the title and the registered-mark label, both created at run time.
#define IDC_FRAME_TITLE                 2012
// Scheme main dialog; rows k (effects) and i (items) are created at run time from the bases.
#define IDC_MAIN_SCHEME_LABEL           2000
#define IDC_MAIN_SCHEME_LIST            2001
#define IDC_MAIN_NEW                    2002
#define IDC_MAIN_EDIT                   2003
#define IDC_MAIN_DELETE                 2004
#define IDC_MAIN_ACTIVATE               2005
#define IDC_MAIN_OPTIONS                2006
#define IDC_SCHEME_HELP                 2007  // main and edit dialog
#define IDC_MAIN_EFFECTS_HEADING        2008
#define IDC_MAIN_DC_HEADING             2009
#define IDC_MAIN_AC_HEADING             2010
#define IDC_MAIN_SETTINGS_HEADING       2011
#define IDC_MAIN_EFFECT_NAME_BASE       3000
#define IDC_MAIN_EFFECT_DC_BAR_BASE     3200
#define IDC_MAIN_EFFECT_AC_BAR_BASE     3400
#define IDC_MAIN_ITEM_NAME_BASE         3600
#define IDC_MAIN_ITEM_AC_VALUE_BASE     3800
#define IDC_MAIN_ITEM_DC_VALUE_BASE     4000
#define IDC_MAIN_ITEM_SCROLL            2031  // made at run time when the rows outgrow the screen
// Scheme edit dialog and its setting pages (the sheet, the item names 4600 + i and lists
// 4800 + i, the effect names 4900 + k and bars 4950 + k, the icon button made at run time).
#define IDC_EDIT_NAME_LABEL             2013
#define IDC_EDIT_NAME                   2014
#define IDC_EDIT_STATUS                 2015
#define IDC_PAGE_EFFECTS_HEADING        2016
#define IDC_PAGE_SETTINGS_HEADING       2017
#define IDC_EDIT_SHEET                  2032
#define IDC_PAGE_ITEM_SCROLL            2033
#define IDC_PAGE_ITEM_NAME_BASE         4600
#define IDC_PAGE_ITEM_LIST_BASE         4800
#define IDC_PAGE_EFFECT_NAME_BASE       4900
#define IDC_PAGE_EFFECT_BAR_BASE        4950
#define IDC_CHANGE_ICON_BUTTON          8000
// Display options (the scheme list is created at run time).
#define IDC_OPTIONS_DEVICE_LABEL        2018
#define IDC_OPTIONS_SCHEME_LIST         2019
#define IDC_OPTIONS_HOTKEY_LABEL        2020
#define IDC_OPTIONS_DEVICE_ASK          2047
// Battery status dialog; row labels 5000 + r and values 5200 + r are created at run time.
#define IDC_BATTERY_SELECT_GROUP        2021
#define IDC_BATTERY_INFO_GROUP          2022
#define IDC_BATTERY_LEFT_NAME_HEADING   2023
#define IDC_BATTERY_LEFT_VALUE_HEADING  2024
#define IDC_BATTERY_RIGHT_NAME_HEADING  2025
#define IDC_BATTERY_RIGHT_VALUE_HEADING 2026
#define IDC_BATTERY_SELECTOR            2027
#define IDC_BATTERY_SELECTOR_LABEL      2028
#define IDC_BATTERY_ROW_LABEL_BASE      5000
#define IDC_BATTERY_ROW_VALUE_BASE      5200
// Quick switch strip, every control created at run time.
#define IDC_QUICK_SLOT_BASE             5400
#define IDC_QUICK_LABEL_BASE            5600
#define IDC_QUICK_SCROLL_LEFT           8001
#define IDC_QUICK_SCROLL_RIGHT          8002
// Device dialog.
#define IDC_DEVICE_LIST                 2030
#define IDC_DEVICE_PROMPT               2039
#define IDC_DEVICE_DONT_ASK             2046
// Icon chooser.
#define IDC_CHANGE_ICON_PROMPT          2029
#define IDC_CHANGE_ICON_LIST            2030
// Warning and confirmation boxes.
#define IDC_MESSAGE_TEXT                2048
// Controls numbered by this module alone; TALO binds them by these names.
#define IDC_BALLOON_LINK                1001
#define IDC_ABOUT_PRODUCT               1010
#define IDC_ABOUT_VERSION               1011
#define IDC_ABOUT_COPYRIGHT             1012
#define IDC_ABOUT_DESCRIPTION           1013

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

// The name of the help file of this module's language, beside TALO.exe; [TALOCfg]
// HelpFileName when the module has none.
#define IDS_HELP_FILE               190

#endif
