#include <VeilixControl/PropertyBag.h>
#include <VeilixControl/VeilixButton.h>
#include <VeilixControl/VeilixControlVersion.h>
#include <VeilixControl/VeilixDragBar.h>

#include <QApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget form;
    VeilixDragBar bar(&form);
    bar.setCaption(QStringLiteral("Consumer"));
    VeilixButton button(&form);
    const auto bag = PropertyBag::fromJson(R"({"VeilixPropertyBag": 1, "properties": [
        {"name": "Caption", "type": "string", "value": "OK"}]})");
    if (!bag)
        return 2;
    button.readProperties(*bag);
    int clicks = 0;
    QObject::connect(&button, &VeilixButton::Click, &button, [&clicks] { ++clicks; });
    std::printf(
        "VeilixControl %s %s %s\n", VeilixControlVersion(), qPrintable(bar.Caption()), qPrintable(button.Caption()));
    return 0;
}
