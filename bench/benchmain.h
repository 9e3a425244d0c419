#pragma once

#include <benchmark/benchmark.h>

// main() of a benchmark program: the benchmarks registered in it, run inside an application
// object of type App (QCoreApplication, or QApplication for the window's), which the code under
// test needs for its event loop, its settings or its widgets.
template <typename App> int runBenchmarks(int argc, char **argv)
{
    App app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
