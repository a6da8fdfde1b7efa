#include "support/FormFixture.h"

#include "automation/tarnwickAutostart.h"
#include "runtime/Application.h"
#include "runtime/Dates.h"

namespace test {

void FormFixture::SetUp()
{
    sandbox = std::make_unique<Sandbox>();
    // The window as a user sees it; tests of a run without a display say so.
    runtime::overrideHeadless(false);
    runtime::resetTermination();
    TTarnwickAutostart::resetFirstAssignment();
    runtime::setMessageInterceptor([this](const runtime::MessageRequest& request) {
        messages.push_back(request);
        return answer;
    });
}

void FormFixture::TearDown()
{
    form.reset();
    runtime::setMessageInterceptor({});
    runtime::overrideToday(std::nullopt);
    runtime::overrideHeadless(std::nullopt);
    runtime::resetTermination();
    sandbox.reset();
}

TForm1& FormFixture::start(int paramCount)
{
    // Every start is a new program run.
    form.reset();
    runtime::resetTermination();
    TTarnwickAutostart::resetFirstAssignment();
    form = std::make_unique<TForm1>(paramCount);
    return *form;
}

TForm1& FormFixture::startWithNoActions()
{
    TForm1& f = start();
    messages.clear();
    for (QCheckBox* box : {f.CheckBox1, f.CheckBox3, f.CheckBox4, f.CheckBox5, f.CheckBox6,
                           f.CheckBox7, f.CheckBox8, f.CheckBox9})
        box->setChecked(false);
    return f;
}

void FormFixture::exit()
{
    form.reset();
}

std::string FormFixture::settings() const
{
    return Sandbox::readFile(sandbox->iniPath());
}

void FormFixture::writeSettings(const std::string& text) const
{
    Sandbox::writeFile(sandbox->iniPath(), text);
}

} // namespace test
