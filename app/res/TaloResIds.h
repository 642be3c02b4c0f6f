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

#endif
