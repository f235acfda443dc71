// The headless panel table, made strict: a control name it does not hold
// fails the test, so a misspelt name is caught.
#pragma once

#include "ui/presenter/PanelTable.h"

#include <gtest/gtest.h>

namespace audimera {

class FakePanel : public PanelTable {
public:
    using PanelTable::PanelTable;

protected:
    void unknownControl(std::string_view name) const override { ADD_FAILURE() << "unknown control '" << name << "'"; }
};

} // namespace audimera
