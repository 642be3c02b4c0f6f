// The first run's preparation of the user's schemes: the profile entries of the schemes
// the system already has, the product's default schemes from the default-scheme file
// beside them (never changing a scheme the user has), the product's values in the
// system's own schemes; then the layout values.
#pragma once

class CSchemeEx;

namespace talo {

// Seeds on the first run only (start flag 0), then reads the layout values. 1; 0 when
// the scheme file could not be prepared or the schemes not listed (the layout values
// then keep their initial values).
int SeedSchemeSettings();

// CSchemeEx::InitCfgFile for the first run, keeping what the user's schemes hold: on
// Vista it rebuilds the index map and would drop the settings of every scheme; they are
// written again under the index the scheme has now. InitCfgFile's result.
int PrepareSchemeFiles(CSchemeEx& scheme);

// The two steps of the first run, for a scheme object already initialised.
void SeedDefaultSchemes(CSchemeEx& scheme);
void SeedBuiltInSchemes(CSchemeEx& scheme);

}  // namespace talo
