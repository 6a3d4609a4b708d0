// The question asked before a running operation is told to stop: the
// caption and the text of each mode, the same for the window's message box
// and the console.  Any thread.
#pragma once

#include "updater/transport/worker_host.h"

namespace updater {

struct StopQuestion {
  const char* caption;
  const char* question;
};

inline StopQuestion StopQuestionFor(Mode mode) {
  switch (mode) {
    case Mode::MODE_SEND: return {"  ПРЕРВАТЬ Отправку", "Вы хотите отменить загрузку?       "};
    case Mode::MODE_RECEIVE: return {"ПРЕРВАТЬ Получение!  ", "Вы хотите отменить Получение?        "};
    case Mode::MODE_UPDATE: break;
  }
  return {"  ПРЕРВАТЬ Обновление  ", "Вы хотите отменить Обновление?      "};
}

}  // namespace updater
