// One worklist search of the main window, offscreen: from "Search WL" until the last row is in the
// list and sorted ("elapsed_us N" on stderr), and the longest time the window took meanwhile to
// answer a queued call, measured by a timer due every 10 ms (appended to ANSWERS as "N ms").
// For bench/run, beside scrivara-cli worklist against the same server.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/unit1.h"
#include "core/config.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: window_search PORT ROWS WORKDIR ANSWERS (a worklist SCP with AE WLAE on 127.0.0.1:PORT)\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::filesystem::create_directories(argv[3]);
  TForm1 window(std::string(argv[3]) + "/scrivara");
  window.show();
  QCoreApplication::sendPostedEvents();  // the start-up event: folders and log
  setupcfg.WorklistAET = "WLAE";
  setupcfg.WorklistIP = "127.0.0.1";
  setupcfg.WorklistPort = argv[1];

  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longest = std::max(longest, clock.elapsed() - last);
    last = clock.elapsed();
  });
  clock.start();
  tick.start(10);
  window.SearchWLBtn->click();
  while (window.Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  const qint64 us = clock.nsecsElapsed() / 1000;
  tick.stop();
  std::fprintf(stderr, "elapsed_us %lld\n", static_cast<long long>(us));
  std::ofstream(argv[4], std::ios::app) << longest << " ms\n";
  const int rows = window.RowCount() - 1;
  if (rows != std::stoi(argv[2])) {
    std::fprintf(stderr, "%d rows, %s expected\n", rows, argv[2]);
    return 1;
  }
  return 0;
}
