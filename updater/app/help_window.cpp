#include "updater/app/help_window.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace updater::app {
namespace {

const char* const kHelpHtml = R"(
<h3>Q5100 Updater</h3>
<p>Программа записывает настройки каналов в ресивер, получает их из ресивера
и обновляет программное обеспечение (ПО) ресивера по последовательному порту.</p>

<h4>Режимы</h4>
<ul>
<li><b>Обновление ПО</b> — запись ПО в ресивер из файла <tt>*.wsw</tt>.</li>
<li><b>Отправить настройки</b> — запись файла настроек <tt>*.wdb</tt> в ресивер.</li>
<li><b>Получить настройки</b> — чтение настроек ресивера в файл <tt>*.wdb</tt>.
Можно указать имя нового файла; файл записывается только после полного и
правильного приема, при ошибке прежний файл остается без изменений.</li>
</ul>

<h4>Порт</h4>
<p>Меню «Последовательный порт» → «COM Порт»: COM1–COM4. COM<i>n</i> — это
<tt>/dev/ttyS</tt><i>n−1</i>, если переменная окружения COM<i>n</i> не указывает
другое устройство, например адаптер USB: <tt>COM1=/dev/ttyUSB0 updater</tt>.
Параметры линии постоянные: 115200 бит/с, 8 бит данных, без четности, 1 стоповый
бит, без управления потоком. Порт можно сменить и во время работы: новый порт
действует со следующего запуска.</p>

<h4>Файлы</h4>
<p>«Файл» → «Открыть». Принимаются имена, содержащие <tt>.wsw</tt> (ПО),
<tt>.wdb</tt> или <tt>.WDB</tt> (настройки); иначе — «Не тот Файл!».
Файл ПО, который начинается с байтов 55 AA, включает режим «Обновление ПО».
Файл настроек включает режим «Отправить настройки» (в режиме «Получить
настройки» режим не меняется). Файл настроек для отправки — не меньше 200000 байт.</p>

<h4>Запуск и стоп</h4>
<p>Кнопка запуска («Запись» или «Получить») или клавиша Enter запускает операцию
выбранного режима. Кнопка «Стоп» или клавиша Esc спрашивает, прервать ли операцию;
при ответе «Да» операция останавливается в ближайшей безопасной точке
(строка «Подождите .............», для настроек затем «Отменено!»).
Пока идет операция, окно не закрывается и режим не меняется.</p>

<h4>Строки состояния</h4>
<ul>
<li><b>OK!</b> — этап выполнен.</li>
<li><b>Ошибка!</b> — этап не выполнен; соседние строки называют причину
(«Проверьте…» — что проверить: порт, файл, модель ресивера).</li>
<li><b>Не выключайте!</b> — ресивер сохраняет полученное: не выключайте его,
пока не появится «Обновление ПО завершено».</li>
</ul>
<p>Справа под полосой хода — проценты переданных данных или секунды ожидания ответа
ресивера.</p>
)";

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Помощь — Q5100 Updater"));
  setAttribute(Qt::WA_QuitOnClose, false);
  auto* text = new QTextBrowser(this);
  text->setHtml(QString::fromUtf8(kHelpHtml));
  text->setOpenLinks(false);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(buttons);
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  resize(em * 40, em * 36);
}

}  // namespace updater::app
