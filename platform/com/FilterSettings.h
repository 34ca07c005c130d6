// A filter's settings, as its settings frame shows them: the pages that ISpecifyPropertyPages
// names are this one page, and OleCreatePropertyFrame hands the values to the host's frame.
#pragma once

#include <vector>

#include "Com.h"
#include "ombrix/platform.h"
#include "platform/dshow/Strmif.h"

inline constexpr IID IID_IFilterSettings = MakeGuid("5B4DA1D8-3A2A-48FF-A2E8-4FAE72D7283F");
// The one property page a filter with settings names.
inline constexpr CLSID CLSID_FilterSettingsPage = MakeGuid("ED565506-9DE4-4FC5-A7E8-450F96FA7F92");

struct IFilterSettings : IUnknown {
    // The settings with their current values; the names live as long as the filter.
    virtual std::vector<Ombrix_Setting> GetSettings() = 0;
    // Takes the values, each brought within its range; E_INVALIDARG for a name it does not have.
    virtual HRESULT PutSettings(const std::vector<Ombrix_Setting>& settings) = 0;
};

// Fills pages with the one settings page (for ISpecifyPropertyPages::GetPages).
HRESULT GetSettingsPages(CAUUID* pages);

// Shows the settings of each object that has them through the host's frame, and gives the
// changed values back to it. S_OK also when no frame is installed (nothing is shown).
HRESULT OleCreatePropertyFrame(HWND parent, UINT x, UINT y, LPCOLESTR caption, ULONG objectCount, IUnknown** objects,
                               ULONG pageCount, const CLSID* pages, DWORD locale, DWORD reserved, LPVOID reserved2);
