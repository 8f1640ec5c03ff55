#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "LoggerOutput.h"
#include "PixmapScroller.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>

namespace {
struct Strip
{
    PixmapScroller scroller;
    QSignalSpy picked{&scroller, &PixmapScroller::pixmapSelected};

    Strip(int width, int height, int thumbnails)
    {
        for (int i = 0; i < thumbnails; ++i)
            scroller.addPixmap(i + 1, testsupport::filledLevel(QColor::fromHsv(i * 30, 200, 200)));
        scroller.resize(width, height);
        scroller.show();
        QVERIFY(QTest::qWaitForWindowExposed(&scroller));
    }
    QWidget *viewport() { return scroller.viewport(); }
    // The pointer passing over the strip with no button held.
    void hover(QPoint p)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(p), viewport()->mapToGlobal(QPointF(p)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport(), &move);
    }
    void click(QPoint p)
    {
        QTest::mousePress(viewport(), Qt::LeftButton, {}, p);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, p);
    }
    // The row moves only in the steps of its animation, while a button is held; its timer
    // is the strip's only one.
    QTimer *animation()
    {
        const QList<QTimer *> timers = scroller.findChildren<QTimer *>(Qt::FindDirectChildrenOnly);
        return timers.size() == 1 ? timers.first() : nullptr;
    }
    // Lets the animation take `steps` more steps.
    void animate(int steps)
    {
        QVERIFY(animation() && animation()->isActive());
        QSignalSpy taken(animation(), &QTimer::timeout);
        QTRY_VERIFY(taken.size() >= steps);
    }
};
} // namespace

class TestScroller : public QObject
{
    Q_OBJECT
private slots:
    void layoutFollowsTheHeight();
    void aClickPicksTheHighlightedThumbnail();
    void releaseWithoutHighlightPicksNothing();
    void draggingScrollsToBothEndsAndNoFurther();
    void clearAndUnknownKeys();
    void scrollsOfEveryKindPickUnderThePointer_data();
    void scrollsOfEveryKindPickUnderThePointer();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestScroller::layoutFollowsTheHeight()
{
    Strip s(800, 200, 3);
    QCOMPARE(s.scroller.side(), 176);
    QCOMPARE(s.scroller.thumbnailRect(1).left(), 10);
    QCOMPARE(s.scroller.thumbnailRect(2).left(), 196);
    QCOMPARE(s.scroller.thumbnailRect(3).left(), 382);
    QCOMPARE(s.scroller.thumbnailRect(3).width(), 177); // 176 pixels, both edges included
    QCOMPARE(s.scroller.sceneRect().width(), 568.0);
    QCOMPARE(s.scroller.minimumHeight(), 140);
    QCOMPARE(s.scroller.maximumHeight(), 300);
    s.scroller.resize(800, 140);
    QCOMPARE(s.scroller.side(), 112);
    s.scroller.resize(800, 300);
    QCOMPARE(s.scroller.side(), 272);
    // Thumbnails are drawn at the strip's scale over the checker frame.
    const QImage shown = s.scroller.grab().toImage();
    QCOMPARE(shown.pixel(s.scroller.thumbnailRect(2).center() + QPoint(1, 1)),
             QColor::fromHsv(30, 200, 200).rgb());
}

void TestScroller::aClickPicksTheHighlightedThumbnail()
{
    Strip s(800, 200, 3);
    s.hover(s.scroller.thumbnailRect(2).center());
    QCOMPARE(s.scroller.highlightedKey(), QVariant(2));
    QCOMPARE(s.scroller.outlinedFrames(), 1);
    s.hover(s.scroller.thumbnailRect(3).center());
    QCOMPARE(s.scroller.highlightedKey(), QVariant(3));
    QCOMPARE(s.scroller.outlinedFrames(), 1);
    s.click(s.scroller.thumbnailRect(3).center());
    QCOMPARE(s.picked.size(), 1);
    QCOMPARE(s.picked.takeFirst().first().toInt(), 3);
    // The row fits: it never moves.
    QTest::mousePress(s.viewport(), Qt::LeftButton, {}, QPoint(300, 50));
    QTest::mouseMove(s.viewport(), QPoint(600, 50));
    QVERIFY(s.animation() && !s.animation()->isActive());
    QTest::mouseRelease(s.viewport(), Qt::LeftButton, {}, QPoint(600, 50));
    QCOMPARE(s.scroller.rowOffset(), 0);
}

void TestScroller::releaseWithoutHighlightPicksNothing()
{
    Strip s(800, 200, 3);
    s.hover(QPoint(700, 100)); // right of the last thumbnail
    QVERIFY(!s.scroller.highlightedKey().isValid());
    s.click(QPoint(700, 100));
    QCOMPARE(s.picked.size(), 0);
    // A press on a thumbnail without a move since the last highlight picks that highlight.
    s.hover(s.scroller.thumbnailRect(1).center());
    QTest::mousePress(s.viewport(), Qt::LeftButton, {}, QPoint(700, 100));
    QTest::mouseRelease(s.viewport(), Qt::LeftButton, {}, QPoint(700, 100));
    QCOMPARE(s.picked.size(), 1);
    QCOMPARE(s.picked.first().first().toInt(), 1);
}

void TestScroller::draggingScrollsToBothEndsAndNoFurther()
{
    Strip s(600, 200, 10); // a row of 10 * 186 + 10 = 1870 pixels
    const int width = s.viewport()->width();
    const int rowWidth = int(s.scroller.sceneRect().width());
    QCOMPARE(rowWidth, 1870);
    QTest::mousePress(s.viewport(), Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(s.viewport(), QPoint(850, 100)); // 750 to the right: 100 pixels a step
    int previous = 0;
    QTRY_VERIFY_WITH_TIMEOUT(s.scroller.rowOffset() == width - rowWidth, 5000);
    for (int i = 0; i < 10; ++i) {
        s.animate(1);
        QCOMPARE(s.scroller.rowOffset(), width - rowWidth); // flush right, and no further
        QVERIFY(s.scroller.outlinedFrames() <= 1);
    }
    previous = s.scroller.rowOffset();
    QTest::mouseRelease(s.viewport(), Qt::LeftButton, {}, QPoint(850, 100));
    QCOMPARE(s.scroller.rowOffset(), previous);
    // The right end of the row meets the right edge of the strip.
    QCOMPARE(s.scroller.thumbnailRect(10).right() + PixmapScroller::Margin, width - 1 + 1);

    // Back to the left, and no further.
    QTest::mousePress(s.viewport(), Qt::LeftButton, {}, QPoint(500, 100));
    QTest::mouseMove(s.viewport(), QPoint(-250, 100));
    QTRY_VERIFY_WITH_TIMEOUT(s.scroller.rowOffset() == 0, 5000);
    s.animate(4);
    QCOMPARE(s.scroller.rowOffset(), 0);
    QTest::mouseRelease(s.viewport(), Qt::LeftButton, {}, QPoint(-250, 100));
    QCOMPARE(s.scroller.thumbnailRect(1).left(), PixmapScroller::Margin);
}

void TestScroller::clearAndUnknownKeys()
{
    Strip s(800, 200, 3);
    s.scroller.setPixmap(42,
                         testsupport::filledLevel(Qt::black)); // no such thumbnail: nothing happens
    QCOMPARE(s.scroller.count(), 3);
    QVERIFY(s.scroller.pixmapOf(42).isNull());
    s.scroller.setPixmap(2, testsupport::filledLevel(Qt::white));
    QCOMPARE(s.scroller.pixmapOf(2).toImage().pixelColor(0, 0), QColor(Qt::white));

    s.hover(s.scroller.thumbnailRect(1).center());
    QVERIFY(s.scroller.highlightedKey().isValid());
    s.scroller.clear();
    QCOMPARE(s.scroller.count(), 0);
    QVERIFY(!s.scroller.highlightedKey().isValid());
    s.click(QPoint(50, 50));
    QCOMPARE(s.picked.size(), 0);
    s.scroller.addPixmap(7, testsupport::filledLevel(Qt::gray));
    s.hover(s.scroller.thumbnailRect(7).center());
    s.click(s.scroller.thumbnailRect(7).center());
    QCOMPARE(s.picked.size(), 1);
    QCOMPARE(s.picked.first().first().toInt(), 7);
}

void TestScroller::scrollsOfEveryKindPickUnderThePointer_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("wheel") << "wheel";
    QTest::newRow("touchpad swipe") << "touchpad";
    QTest::newRow("arrow keys") << "keys";
}

void TestScroller::scrollsOfEveryKindPickUnderThePointer()
{
    QFETCH(QString, how);
    Strip s(600, 200, 10);
    const QPoint at(320, 100);
    auto keyUnder = [&](QPoint p) {
        for (int key = 1; key <= 10; ++key)
            if (s.scroller.thumbnailRect(key).contains(p))
                return key;
        return 0;
    };
    // The user points at a thumbnail and clicks it, which gives the strip the keyboard.
    QVERIFY(s.scroller.focusPolicy() & Qt::ClickFocus);
    s.hover(at);
    s.click(at);
    const int before = keyUnder(at);
    QCOMPARE(s.picked.size(), 1);
    QCOMPARE(s.picked.takeFirst().first().toInt(), before);

    const QPointF global = s.viewport()->mapToGlobal(QPointF(at));
    if (how == "wheel") {
        QWheelEvent wheel(QPointF(at), global, QPoint(), QPoint(0, -360), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(s.viewport(), &wheel);
    } else if (how == "touchpad") {
        for (int i = 0; i < 5; ++i) {
            QWheelEvent swipe(QPointF(at), global, QPoint(-70, 4), QPoint(-70, 4), Qt::NoButton,
                              Qt::NoModifier, Qt::ScrollUpdate, false,
                              Qt::MouseEventSynthesizedBySystem);
            QCoreApplication::sendEvent(s.viewport(), &swipe);
        }
    } else {
        for (int i = 0; i < 8; ++i)
            QTest::keyClick(&s.scroller, Qt::Key_Right);
    }
    const int offset = s.scroller.rowOffset();
    QVERIFY2(offset < -100, qPrintable(QString::number(offset)));
    const int after = keyUnder(at);
    QVERIFY2(after != before && after != 0,
             qPrintable(QStringLiteral("%1 %2 %3").arg(before).arg(after).arg(offset)));
    QCOMPARE(s.scroller.highlightedKey(), QVariant(after));
    QCOMPARE(s.scroller.outlinedFrames(), 1);

    // A click where the pointer rests picks that thumbnail; the press's animation steps
    // leave the row where it was scrolled to.
    QTest::mousePress(s.viewport(), Qt::LeftButton, {}, at);
    s.animate(4);
    QTest::mouseRelease(s.viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(s.picked.size(), 1);
    QCOMPARE(s.picked.first().first().toInt(), after);
    QCOMPARE(s.scroller.rowOffset(), offset);

    // Scrolled back with the pointer gone from the strip, nothing stays highlighted.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(s.viewport(), &leave);
    s.scroller.horizontalScrollBar()->setValue(0);
    QCOMPARE(s.scroller.rowOffset(), 0);
    QVERIFY(!s.scroller.highlightedKey().isValid());
}

TUFTMILL_GL_TEST_MAIN(TestScroller)
#include "tst_scroller.moc"
