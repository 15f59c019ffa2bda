#include "PreviewFixture.h"

#include <QTest>

void PreviewTest::ClickClient(QPoint p, Qt::MouseButton button)
{
    const QPoint w = p + ctl->contentsRect().topLeft();
    QTest::mousePress(ctl.get(), button, Qt::NoModifier, w);
    QTest::mouseRelease(ctl.get(), button, Qt::NoModifier, w);
}
