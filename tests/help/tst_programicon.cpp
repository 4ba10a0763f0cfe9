#include "ui/mainwindow/programicon.h"

#include <QtTest>

// The window icon drawn from the SVG in the resources: every size a window
// manager asks for, the drawing's proportions kept, the meters' colours there.
class ProgramIconTest : public QObject
{
    Q_OBJECT

private slots:
    void iconOffersSmallAndLargeSizes();
    void imageIsTheRequestedSquare();
    void tallerThanWideDrawingLeavesSideMarginsClear();
    void drawingShowsGreenScaleAndRedNeedle();
    void imageOfNoSizeIsNull();

private:
    static int countPixels(const QImage &image, bool (*matches)(QRgb));
};

int ProgramIconTest::countPixels(const QImage &image, bool (*matches)(QRgb))
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (matches(image.pixel(x, y)))
                ++count;
        }
    }
    return count;
}

void ProgramIconTest::iconOffersSmallAndLargeSizes()
{
    const QIcon icon = programIcon();

    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (const int size : {16, 32, 48, 64, 128})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
}

void ProgramIconTest::imageIsTheRequestedSquare()
{
    const QImage image = programIconImage(48);

    QCOMPARE(image.size(), QSize(48, 48));
    QVERIFY(image.hasAlphaChannel());
}

void ProgramIconTest::tallerThanWideDrawingLeavesSideMarginsClear()
{
    // 119 x 127 in a 127 square: four clear columns on each side, while the
    // meter frames reach from top to bottom.
    const QImage image = programIconImage(127);

    for (int y = 0; y < image.height(); ++y) {
        QCOMPARE(qAlpha(image.pixel(1, y)), 0);
        QCOMPARE(qAlpha(image.pixel(125, y)), 0);
    }
    QCOMPARE(qAlpha(image.pixel(63, 4)), 255);
    QCOMPARE(qAlpha(image.pixel(63, 122)), 255);
}

void ProgramIconTest::drawingShowsGreenScaleAndRedNeedle()
{
    const QImage image = programIconImage(128);

    const int green = countPixels(image, [](QRgb p) { return qGreen(p) > 120 && qRed(p) < 80 && qBlue(p) < 80; });
    const int red = countPixels(image, [](QRgb p) { return qRed(p) > 180 && qGreen(p) < 70 && qBlue(p) < 70; });
    QVERIFY2(green > 100, qPrintable(QString::number(green)));
    QVERIFY2(red > 100, qPrintable(QString::number(red)));
}

void ProgramIconTest::imageOfNoSizeIsNull()
{
    QVERIFY(programIconImage(0).isNull());
}

QTEST_MAIN(ProgramIconTest)
#include "tst_programicon.moc"
