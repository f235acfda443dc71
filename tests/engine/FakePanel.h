// The panel table of the headless command, made strict: a control name it
// does not hold fails the test, so a misspelt name is caught.
#pragma once

#include "PanelTable.h"

#include <gtest/gtest.h>

class FakePanel : public PanelTable {
public:
    using PanelTable::PanelTable;

protected:
    void unknownControl(std::string_view name) const override { ADD_FAILURE() << "unknown control '" << name << "'"; }
};
