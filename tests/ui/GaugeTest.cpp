// Drawn gauges and turning pictures, checked on rendered pages: the page is
// grabbed offscreen and its pixels probed where the gauges' geometry puts
// them (page points; the pages are white).

#include "elements/circle/Circle.h"
#include "elements/picturegauge/Compass.h"
#include "elements/GaugeMath.h"
#include "elements/gradient/GradientViewController.h"
#include "elements/progress/Progress.h"
#include "elements/image/DevicePictures.h"
#include "elements/image/RemoteImage.h"
#include "elements/picturegauge/Turbine.h"
#include "support/FakeFileTransport.h"
#include "ui/PageRig.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace fieldmon;

namespace {

std::string page(const std::string& widgets)
{
    return "<d><start initial='main'/><page name='main' color='(1, 1, 1)'>" + widgets + "</page></d>";
}

// Close enough to `want` in every channel (antialiasing, gradients).
::testing::AssertionResult near(const QImage& image, QPoint at, QColor want, int tolerance = 24)
{
    const QColor got = image.pixelColor(at);
    const int d = std::max({std::abs(got.red() - want.red()), std::abs(got.green() - want.green()),
                            std::abs(got.blue() - want.blue())});
    if (d <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at (" << at.x() << ", " << at.y() << ") " << got.name().toStdString()
                                         << ", not " << want.name().toStdString();
}

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

struct Gauges : test::PageRig {
    QImage render(const std::string& widgets, const QString& shotName = {})
    {
        page_ = open(page(widgets));
        if (!page_)
            return {};
        if (!shotName.isEmpty())
            test::shot(window.phoneScreen(), shotName);
        return page_->grab().toImage();
    }
    std::shared_ptr<DevicePage> page_;
};

} // namespace

TEST(ClipRect, NormalisedAndHeldToThePage)
{
    struct Case {
        const char* what;
        std::optional<double> x, y, w, h;
        std::optional<QRectF> want;
    };
    const Case cases[] = {
        {"no x: no clip", std::nullopt, 0.5, 0.5, 0.5, std::nullopt},
        {"left of the page", -0.1, 0.0, 0.5, 0.5, QRectF(0, 0, 128, 208)},
        {"negative width", 0.5, 0.0, -0.25, 1.0, QRectF(80, 0, 80, 416)},
        {"negative height", 0.0, 0.5, 1.0, -0.25, QRectF(0, 104, 320, 104)},
        {"no size: to the edges", 0.25, 0.5, std::nullopt, std::nullopt, QRectF(80, 208, 240, 208)},
        {"width without height: to the edges", 0.25, 0.5, 0.1, std::nullopt, QRectF(80, 208, 240, 208)},
        {"past the bottom right", 0.75, 0.75, 1.0, 1.0, QRectF(240, 312, 80, 104)},
        {"off the page: empty", 1.5, 0.0, 0.5, 0.5, QRectF(480, 0, 0, 208)},
        {"NaN reads 0", std::nan(""), 0.0, 0.5, 0.5, QRectF(0, 0, 160, 208)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gauge::clipRect(c.x, c.y, c.w, c.h), c.want) << c.what;
}

TEST_F(Gauges, ACircleFillsItsSquareAndItsClip)
{
    QImage img = render("<circle position='(0.5, 0.5)' color='(1, 0, 0, 1)' radius='20' refresh='once'/>"
                        "<circle position='(0.25, 0.25)' color='(1, 0, 0, 1)' radius='40' "
                        "clipRect='(0.25, 0, 0.5, 1)'/>",
                        QStringLiteral("gauge-circles"));
    // The disc inscribed in (140, 188)-(180, 228).
    for (QPoint in : {QPoint(160, 208), QPoint(141, 208), QPoint(178, 208), QPoint(160, 190), QPoint(160, 226)})
        EXPECT_TRUE(near(img, in, kRed)) << "inside";
    for (QPoint out : {QPoint(138, 208), QPoint(182, 208), QPoint(160, 186), QPoint(160, 230), QPoint(143, 191)})
        EXPECT_TRUE(near(img, out, kWhite)) << "outside";
    // The clip starts at x = 80: the left half of the second disc is cut.
    EXPECT_TRUE(near(img, QPoint(70, 104), kWhite));
    EXPECT_TRUE(near(img, QPoint(90, 104), kRed));

    auto circle = widgetAt<Circle>(*page_, 0);
    QJsonObject o;
    circle->inspect(o);
    EXPECT_EQ(o["class"], "circle");
    EXPECT_EQ(o["center"], (QJsonArray{160, 208}));
    EXPECT_EQ(o["radius"], 20);
    EXPECT_EQ(o["color"], (QJsonArray{1, 0, 0, 1}));
    EXPECT_TRUE(o["clip"].isNull());
    EXPECT_EQ(circle->responder(), nullptr) << "a circle takes no part in the chain";
}

TEST_F(Gauges, ABarIsAFractionOfTheDiagonalAndTurnsAboutItsCentre)
{
    QImage img = render("<progress position='(0.5, 0.3)' length='0.5' angle='0' progress='0.5'/>"
                        "<progress position='(0.5, 0.6)' length=' 0.5 ' angle='pi / 2' progress='1'/>",
                        QStringLiteral("gauge-bars"));
    const double half = 0.5 * Progress::diagonal() / 2; // about 131.2
    ASSERT_NEAR(2 * half, 262.4, 0.05);
    auto horizontal = widgetAt<Progress>(*page_, 0);
    QJsonObject o;
    horizontal->inspect(o);
    EXPECT_NEAR(o["frame"].toArray()[2].toDouble(), 262.42, 0.01);
    EXPECT_EQ(o["frame"].toArray()[3].toDouble(), 10);
    EXPECT_EQ(o["progress"].toDouble(), 0.5);

    const int y = static_cast<int>(0.3 * 416);
    const QColor fill = img.pixelColor(QPoint(160 - 60, y));
    const QColor track = img.pixelColor(QPoint(160 + 60, y));
    EXPECT_LT(fill.blue() - fill.red(), 255) << "sanity";
    EXPECT_GT(fill.blue() - fill.red(), 80) << "the filled half is blue";
    EXPECT_LT(std::abs(track.blue() - track.red()), 20) << "the empty half is grey";
    EXPECT_TRUE(near(img, QPoint(static_cast<int>(160 - half) + 2, y), fill, 60)) << "left end";
    EXPECT_TRUE(near(img, QPoint(static_cast<int>(160 + half) - 2, y), track, 60)) << "right end";
    EXPECT_TRUE(near(img, QPoint(static_cast<int>(160 + half) + 3, y), kWhite)) << "past the right end";
    EXPECT_TRUE(near(img, QPoint(static_cast<int>(160 - half) - 3, y), kWhite)) << "past the left end";
    EXPECT_TRUE(near(img, QPoint(160, y - 8), kWhite)) << "10 points high";

    // Turned a quarter: vertical, 262 high, about the same centre.
    const int cy = static_cast<int>(0.6 * 416);
    EXPECT_FALSE(near(img, QPoint(160, static_cast<int>(cy - half) + 3), kWhite));
    EXPECT_FALSE(near(img, QPoint(160, static_cast<int>(cy + half) - 3), kWhite));
    EXPECT_TRUE(near(img, QPoint(160 - 20, cy), kWhite));
}

TEST_F(Gauges, AGradientFadesAndExtendsOnlyWhereItIsTold)
{
    const QColor kGreen(0, 255, 0);
    // No colours yet: the yellow fade; nothing inside the inner circle.
    QImage img = render("<gradient position='(0.5, 0.25)' innerRadius='20' outerRadius='60'/>"
                        // Extended outwards, clipped to the lower half.
                        "<gradient position='(0.5, 0.75)' innerColor='(1, 0, 0, 1)' outerColor='(0, 1, 0, 1)' "
                        "innerRadius='10' outerRadius='40' clipRect='(0, 0.5, 1, 0.5)' extendOuter='TRUE'/>",
                        QStringLiteral("gauge-gradients"));
    EXPECT_TRUE(near(img, QPoint(160, 104), kWhite)) << "inside the inner circle";
    EXPECT_TRUE(near(img, QPoint(160 + 22, 104), QColor(255, 255, 0), 40)) << "opaque yellow at the inner circle";
    EXPECT_TRUE(near(img, QPoint(160 + 58, 104), kWhite, 40)) << "clear yellow at the outer circle";
    EXPECT_TRUE(near(img, QPoint(160 + 70, 104), kWhite)) << "not extended";
    auto first = widgetAt<GradientViewController>(*page_, 0);
    QJsonObject o;
    first->inspect(o);
    EXPECT_EQ(o["inner_color"], (QJsonArray{1, 1, 0, 1}));
    EXPECT_EQ(o["outer_color"], (QJsonArray{1, 1, 0, 0}));
    EXPECT_EQ(o["extend"], QJsonArray());

    const int cy = static_cast<int>(0.75 * 416);
    EXPECT_TRUE(near(img, QPoint(160, cy), kWhite)) << "inner side not extended";
    for (QPoint outer : {QPoint(5, 215), QPoint(315, 410), QPoint(160 + 45, cy)})
        EXPECT_TRUE(near(img, outer, kGreen)) << "the whole clipped overlay outside the outer circle";
    EXPECT_TRUE(near(img, QPoint(5, 200), kWhite)) << "above the clip";
    EXPECT_TRUE(near(img, QPoint(160 + 11, cy), kRed, 40)) << "inner colour at the inner circle";
}

TEST_F(Gauges, AnInwardGradientSwapsTheSidesTheFlagsExtendAndEqualRadiiDrawNothing)
{
    // Inner radius larger: the inner colour lies outside, and extendInner
    // fills everything beyond it; lower-case "true" extends nothing.
    QImage img = render("<gradient position='(0.5, 0.5)' innerColor='(1, 0, 0, 1)' outerColor='(0, 0, 1, 1)' "
                        "innerRadius='60' outerRadius='20' extendInner='TRUE' extendOuter='true'/>");
    EXPECT_TRUE(near(img, QPoint(160, 208), kWhite));
    EXPECT_TRUE(near(img, QPoint(160 + 21, 208), QColor(0, 0, 255), 40));
    EXPECT_TRUE(near(img, QPoint(160 + 90, 208), kRed));
    EXPECT_TRUE(near(img, QPoint(10, 10), kRed));

    // Equal radii: every circle of the gradient is the same one, which
    // covers nothing, extended or not. Each extended side was filled.
    stack->popToRoot(false);
    settle();
    img = render("<gradient position='(0.5, 0.5)' innerColor='(1, 0, 0, 1)' outerColor='(0, 0, 1, 1)' "
                 "innerRadius='30' outerRadius='30' extendInner='TRUE' extendOuter='TRUE'/>");
    for (QPoint at : {QPoint(160, 208), QPoint(160 + 29, 208), QPoint(160 + 31, 208), QPoint(10, 10)})
        EXPECT_TRUE(near(img, at, kWhite, 2)) << at.x() << ", " << at.y();
}

TEST_F(Gauges, PicturesTurnAboutTheirPivots)
{
    const QColor kDark(41, 48, 66);
    const QColor kGrey(199, 199, 204);
    struct Case {
        std::string element;
        std::vector<std::pair<QPoint, QColor>> probes;
    };
    const Case cases[] = {
        // Compass: the dial's centre (the pivot) at (160, 208), the
        // picture's centre at (154.5, 208.5); the ring at radius 52.
        {"<compass position='(0.5, 0.5)' angle='0'/>",
         {{{160, 208}, kDark}, {{160, 180}, kRed}, {{160, 236}, kGrey}, {{108, 208}, kDark}, {{212, 208}, kDark}}},
        {"<compass position='(0.5, 0.5)' angle='pi / 2'/>", {{{188, 208}, kRed}, {{132, 208}, kGrey}}},
        // Turbine: the picture's centre 65 points above the tower; its
        // spinner 113 above it, or below it when turned half round.
        {"<turbine position='(0.5, 0.5)' angle='0'/>", {{{160, 208}, kDark}, {{160, 95}, kRed}, {{160, 321}, kWhite}}},
        {"<turbine position='(0.5, 0.5)' angle='pi'/>", {{{160, 208}, kDark}, {{160, 321}, kRed}, {{160, 95}, kWhite}}},
        // Arrow, drawn pointing up, a quarter turn clockwise: to the right.
        {"<arrow position='(0.5, 0.5)' angle='pi / 2'/>",
         {{{160 + 40, 208}, kRed}, {{160 - 40, 208}, kDark}, {{160, 170}, kWhite}}},
    };
    int n = 0;
    for (const Case& c : cases) {
        QImage img = render(c.element, QStringLiteral("gauge-picture-%1").arg(n++));
        for (const auto& [at, colour] : c.probes)
            EXPECT_TRUE(near(img, at, colour, 40)) << c.element;
        stack->popToRoot(false);
        settle();
    }

    // The reported frame is the picture unturned with its pivot at `center`.
    render("<compass position='(0.5, 0.5)' angle='0'/><turbine position='(0.5, 0.5)' angle='pi'/>");
    QJsonObject compass, turbine;
    widgetAt<Compass>(*page_, 0)->inspect(compass);
    widgetAt<Turbine>(*page_, 1)->inspect(turbine);
    EXPECT_EQ(compass["frame"], (QJsonArray{94.5, 148, 120, 121})) << "centre (154.5, 208.5)";
    EXPECT_EQ(turbine["frame"], (QJsonArray{129.75, 73, 60, 140})) << "centre 65 above (160, 208)";
    EXPECT_NEAR(turbine["angle"].toDouble(), M_PI, 1e-6);
    EXPECT_EQ(turbine["center"], (QJsonArray{160, 208}));
}

TEST_F(Gauges, PicturesStartAtTheirInitialOriginAndReadMissingValuesAsZero)
{
    // A one-argument position: y reads 0, so the pivot sits on the top edge.
    render("<compass position='(0.5)' angle='0'/><turbine/>");
    auto compass = widgetAt<Compass>(*page_, 0);
    auto turbine = widgetAt<Turbine>(*page_, 1);
    EXPECT_EQ(compass->theImageView()->centre(), QPointF(160, 0));
    // No bindings at all: the initial origin (155.5, 149) stays.
    EXPECT_EQ(turbine->theImageView()->geometry().topLeft(), QPoint(154, 148)) << "one point of margin";
    EXPECT_EQ(turbine->responder(), turbine->view()) << "pictures link into the chain";
}

TEST_F(Gauges, TwoImagesOfOneFileShowItAndAFailedOneIsAnUntouchableGap)
{
    platform::FakeFileTransport files(&s.loop);
    platform::Services services{s.loop, s.notifications, s.alerts, &files};
    auto device = Client::create(false, services);
    device->setSerialNumber(77);
    device->setAddress(test::ipv4("127.0.0.1"), this->device.port());
    QImage badge(24, 16, QImage::Format_ARGB32);
    badge.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    badge.save(&buffer, "PNG");

    test::Reading reading(device);
    platform::DiagnosticCapture out;
    reading.reader.parseXMLFileAtString(page("<image file='badge.png' position='(0.25, 0.5)'/>"
                                     "<image file='badge.png' position='(0.75, 0.5)'/>"
                                     "<image file='gone.png' position='(0.5, 0.25)'/>"));
    auto p = reading.initialPage();
    ASSERT_TRUE(p);
    stack->push(p.get(), false);
    ASSERT_EQ(files.requests().size(), 2u) << "one transfer per file";
    auto first = widgetAt<RemoteImage>(*p, 0), second = widgetAt<RemoteImage>(*p, 1), gone = widgetAt<RemoteImage>(*p, 2);
    EXPECT_EQ(first->fileName(), "fileFrom77badge.png");
    EXPECT_EQ(first->state(), RemoteImage::State::Waiting);
    EXPECT_EQ(first->responder(), nullptr);

    // The one transfer serves both widgets.
    files.serve(files.requests()[0].id, png.toStdString());
    files.fail(files.requests()[1].id, "404");
    const std::string printed = out.take();
    EXPECT_EQ(test::occurrences(printed, "Got image\n"), 2);
    EXPECT_EQ(test::occurrences(printed, "Couldn't find image\n"), 1);
    EXPECT_EQ(first->state(), RemoteImage::State::Shown);
    EXPECT_EQ(second->state(), RemoteImage::State::Shown);
    EXPECT_EQ(gone->state(), RemoteImage::State::Failed);
    EXPECT_EQ(first->theImageView()->picture().cacheKey(), second->theImageView()->picture().cacheKey())
        << "one decoded picture";

    QImage img = test::shot(window.phoneScreen(), QStringLiteral("gauge-images")).isEmpty() ? QImage()
                                                                                             : p->grab().toImage();
    EXPECT_TRUE(near(img, QPoint(80, 208), kRed)) << "centred at (80, 208)";
    EXPECT_TRUE(near(img, QPoint(240 + 11, 208 + 7), kRed));
    EXPECT_TRUE(near(img, QPoint(240 + 14, 208), kWhite)) << "24 wide";
    QJsonObject o;
    gone->inspect(o);
    EXPECT_EQ(o["state"], "failed");
    EXPECT_EQ(o["file"], "gone.png");

    // Where the failed picture would be, a touch reaches the page.
    tap(p.get(), QPoint(160, 104));
    EXPECT_DOUBLE_EQ(device->expressions().touchY(), 0.25);
    stack->popToRoot(false);
    settle();
    device->scheduler().unscheduleAll();
}

namespace {

QByteArray pngOf(QSize size, QColor colour)
{
    QImage picture(size, QImage::Format_ARGB32);
    picture.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return png;
}

// A device whose files come from a fake transport the test serves.
struct PictureDevice {
    platform::FakeFileTransport files;
    std::shared_ptr<Client> device;
    PictureDevice(test::TestServices& s)
    {
        platform::Services services{s.loop, s.notifications, s.alerts, &files};
        device = Client::create(false, services);
        device->setSerialNumber(78);
        device->setAddress(test::ipv4("127.0.0.1"));
    }
};

} // namespace

TEST_F(Gauges, ThirtyImagesOfOneLargePictureShareOneDecodeScaledToThePage)
{
    // Each image widget fetched and decoded its picture itself: one 47 KB
    // picture used by 30 widgets took the app to 1.9 GB. Now one transfer
    // and one decode serve them all, and a picture larger than the page is
    // decoded no larger than the page shows it.
    PictureDevice d(s);
    std::string widgets;
    for (int i = 0; i < 30; ++i)
        widgets += "<image file='big.png' position='(0.5, 0.5)'/>";
    test::Reading reading(d.device);
    platform::DiagnosticCapture out;
    reading.reader.parseXMLFileAtString(page(widgets));
    auto p = reading.initialPage();
    ASSERT_TRUE(p);
    stack->push(p.get(), false);
    ASSERT_EQ(d.files.requests().size(), 1u);
    d.files.serve(d.files.requests()[0].id, pngOf(QSize(2000, 1000), Qt::red).toStdString());
    auto pictures = DevicePictures::of(d.device);
    EXPECT_EQ(pictures->decodes(), 1);
    EXPECT_LE(pictures->usedBytes(), 320 * 160 * 4 * 4) << "no more than the page shows, at most at pixel ratio 2";
    qint64 key = 0;
    for (int i = 0; i < 30; ++i) {
        auto image = widgetAt<RemoteImage>(*p, i);
        ASSERT_EQ(image->state(), RemoteImage::State::Shown) << i;
        EXPECT_EQ(image->theImageView()->pictureSize(), QSizeF(320, 160)) << "fitted to the page's width";
        key = i == 0 ? image->theImageView()->picture().cacheKey() : key;
        EXPECT_EQ(image->theImageView()->picture().cacheKey(), key) << i;
    }
    EXPECT_EQ(test::occurrences(out.take(), "Got image\n"), 30);
    QImage shown = p->grab().toImage();
    EXPECT_TRUE(near(shown, QPoint(5, 208), kRed));
    EXPECT_TRUE(near(shown, QPoint(160, 120), kWhite)) << "160 high, centred";
    stack->popToRoot(false);
    settle();
}

TEST_F(Gauges, PicturesHaveOneBudgetPerDeviceAndEndWithThePage)
{
    // Distinct page-sized pictures each take 0.5 MiB: the 127th would pass
    // the device's 64 MiB and is refused like a body that is no picture. An
    // empty body (a 404 with no content) is no picture either; it used to
    // reach fwrite() with a null pointer. Transfers still waiting when the
    // page goes are cancelled.
    PictureDevice d(s);
    std::string widgets;
    for (int i = 0; i < 130; ++i)
        widgets += "<image file='p" + std::to_string(i) + ".png' position='(0.5, 0.5)'/>";
    widgets += "<image file='empty.png' position='(0.5, 0.5)'/><image file='never.png' position='(0.5, 0.5)'/>";
    auto reading = std::make_unique<test::Reading>(d.device);
    platform::DiagnosticCapture out;
    reading->reader.parseXMLFileAtString(page(widgets));
    auto p = reading->initialPage();
    ASSERT_TRUE(p);
    stack->push(p.get(), false);
    const std::string picture = pngOf(QSize(320, 416), Qt::blue).toStdString();
    for (std::size_t i = 0; i < 130; ++i) {
        ASSERT_LT(i, d.files.requests().size());
        d.files.serve(d.files.requests()[i].id, picture);
    }
    ASSERT_TRUE(d.files.serve(d.files.requests()[130].id, ""));
    auto images = [&](int i) { return widgetAt<RemoteImage>(*p, i); };
    EXPECT_EQ(images(125)->state(), RemoteImage::State::Shown);
    EXPECT_EQ(images(126)->state(), RemoteImage::State::Failed);
    EXPECT_EQ(images(130)->state(), RemoteImage::State::Failed);
    EXPECT_LE(DevicePictures::of(d.device)->usedBytes(), DevicePictures::kBudgetBytes);
    const std::string printed = out.take();
    EXPECT_EQ(test::occurrences(printed, "Image 'p126.png' refused: the device's pictures would take more than 64 MiB\n"), 1);
    EXPECT_EQ(test::occurrences(printed, "String is ''\nImage 'empty.png' is no picture\n"), 1);

    ASSERT_EQ(d.files.requests().size(), 132u);
    const auto never = d.files.requests()[131].id;
    EXPECT_TRUE(d.files.find(never)->running);
    stack->popToRoot(false);
    settle();
    p.reset();
    reading.reset();
    EXPECT_TRUE(d.files.find(never)->cancelled) << "the page went, and its picture's transfer with it";
}
