// What the window benchmarks put in place of the dialogs: the file dialog chooses one song and
// cancels every later one; a message box would wait for a click no one makes, so its text goes
// to stderr and it is answered OK.
#pragma once

#include <cstdio>
#include <optional>
#include <utility>

#include "Services.h"

class SongDialog final : public app::FileDialogService {
 public:
  explicit SongDialog(QString song) : song_(std::move(song)) {}
  std::optional<QString> openFile(QWidget*, const app::FileDialogRequest&) override {
    return std::exchange(song_, std::nullopt);
  }

 private:
  std::optional<QString> song_;
};

class StderrMessages final : public app::MessageService {
 public:
  explicit StderrMessages(const char* program) : program_(program) {}
  int show(int, const QString& title, const QString& text) override {
    std::fprintf(stderr, "%s: %s: %s\n", program_, qPrintable(title), qPrintable(text));
    ++shown;
    return app::kAnswerOk;
  }
  int shown = 0;

 private:
  const char* program_;
};
