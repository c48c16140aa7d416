#pragma once
#include <objbase.h>

// COM initialised on this thread for as long as it lives, and released exactly when this
// initialisation succeeded (S_FALSE included: it is counted too).
class ComApartment {
  public:
    ComApartment()
        : initialised(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (initialised)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool initialised;
};
