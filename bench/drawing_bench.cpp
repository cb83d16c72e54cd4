// The surface's pointer handlers on a 3840 x 2160 picture, through the real
// options window's controls (Qt's offscreen platform): a pencil move at
// widths 1, 10 and 100, a spray move at radius 10 and 100, and what a
// repaint after a pencil move costs against repainting the whole surface.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>

#include "Palitra/palitra.h"
#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "app/program.h"
#include "shell/tapplication.h"

namespace {

constexpr int W = 3840, H = 2160;

void prepare()
{
    static bool ready = false;
    if (ready)
        return;
    ready = true;
    app::createForms();
    Form1->Timer1->stop();
    Form1->Image1->resize(W, H);
    Form1->Image1->Canvas();
}

// A 20-pixel pencil segment per move, back and forth in the middle.
void PencilMove(benchmark::State &state)
{
    prepare();
    frmPalitra->rb1->click();
    frmPalitra->tl->SetText(QString::number(state.range(0)));
    Form1->FormMouseDown(mbLeft, {}, W / 2, H / 2);
    int x = W / 2;
    for (auto _ : state) {
        x = x == W / 2 ? W / 2 + 20 : W / 2;
        Form1->FormMouseMove(TShiftState(ssLeft), x, H / 2);
    }
    Form1->FormMouseUp(mbLeft, {}, x, H / 2);
}
BENCHMARK(PencilMove)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

void SprayMove(benchmark::State &state)
{
    prepare();
    frmPalitra->rb2->click();
    frmPalitra->tl2->SetText(QString::number(state.range(0)));
    Form1->FormMouseDown(mbLeft, {}, W / 2, H / 2);
    int x = W / 2;
    for (auto _ : state) {
        x = x == W / 2 ? W / 2 + 3 : W / 2;
        Form1->FormMouseMove(TShiftState(ssLeft), x, H / 2);
    }
    Form1->FormMouseUp(mbLeft, {}, x, H / 2);
    frmPalitra->rb1->click();
}
BENCHMARK(SprayMove)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// The repaint a pencil move at width 10 causes (only the segment's
// rectangle), against repainting the whole 3840 x 2160 surface.
void RepaintAfterPencilMove(benchmark::State &state)
{
    prepare();
    const bool whole = state.range(0) != 0;
    Form1->Image1->setParent(nullptr);
    Form1->Image1->show();
    QCoreApplication::processEvents();
    const QRect segment(W / 2 - 5, H / 2 - 5, 31, 11);
    for (auto _ : state)
        Form1->Image1->repaint(whole ? Form1->Image1->rect() : segment);
    state.SetLabel(whole ? "whole surface" : "20-pixel segment at width 10");
}
BENCHMARK(RepaintAfterPencilMove)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
