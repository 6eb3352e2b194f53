#pragma once

#include "platform/screen_saver.h"

namespace skarnel::testing {

class FakeScreenSaver : public ScreenSaverInhibitor {
public:
    void Inhibit() override {
        if (!inhibiting_) {
            ++inhibitCount;
        }
        inhibiting_ = true;
    }
    void Release() override { inhibiting_ = false; }
    bool Inhibiting() const override { return inhibiting_; }

    int inhibitCount = 0;

private:
    bool inhibiting_ = false;
};

}  // namespace skarnel::testing
