#pragma once

#include "app/MainForm.h"
#include "runtime/MessageBoxes.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace test {

// A sandbox in which the main window can be created and destroyed as at a program start
// and exit, with every message box recorded and answered by the test.
class FormFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window as a start with paramCount parameters would.
    TForm1& start(int paramCount = 0);
    // The window as a start by hand makes it, with every action box clear and no message.
    TForm1& startWithNoActions();
    // Destroys it, which saves the settings.
    void exit();
    std::string settings() const;
    void writeSettings(const std::string& text) const;

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<TForm1> form;
    std::vector<runtime::MessageRequest> messages;
    runtime::ModalResult answer = runtime::ModalResult::Yes;
};

} // namespace test
