#pragma once

// A window test: each case runs in a fresh TestFixture, and the windows it
// loaded are unloaded after it.

#include "support/fixture.h"
#include "ui/common/forms.h"

class FormsTest : public FixtureTest
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        Forms::unloadAll();
        m_f.tearDown();
    }
};
