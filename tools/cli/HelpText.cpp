#include "HelpText.h"

namespace tilu::cli {

namespace {

const char* const kEnglish = R"(Usage: tilu-cli COMMAND [ARGUMENT]...
Inspects and compares Тилу settings files (.tilu) and writes or reads the emulator over a
serial port, with the configurator's frames, timing (50 ms after the first byte of a reply,
1500 ms for the emulator to answer), line settings (9600 8N1, port held exclusively) and
file format.

Commands:
  ports                      list the system's serial ports, in the port window's order
  show FILE [--json]         show a settings file: mode, the nine settings (held value and
                             display text), time of saving and description
  diff A B                   list the mode and the settings that differ between two files
  write --port P FILE [--verify]
                             write the file's mode and settings into the emulator;
                             --verify reads them back and names every setting that differs
  read --port P [--save FILE [--description TEXT]]
                             read the emulator's settings and show them; --save keeps them
                             in a settings file as the configurator saves it (description
                             "Новая настройка" unless given, at most 250 characters)
  levels --port P            read the signal levels of channels A and B

  -h, --help                 show this help and exit
  --version                  show the version and exit

P is a port name as 'ports' lists it (ttyUSB0) or a device path (/dev/pts/3). Nothing is
written to the emulator or to a file unless the command says so; settings files are opened
read-only.

Display texts use the decimal separator of the locale; --json always uses '.'. The JSON
form has the keys mode, settings (SignalDelay ... NegativeDuration, each with held and
position or on, and text), savedAt (ISO 8601 local time, null when the file holds no
date) and description, always in this order. diff and --verify compare what the emulator
receives: the mode and the nine settings, yes/no settings by their meaning; the time of
saving and the description are not compared.

Messages are in English, or in Russian when LC_ALL, LC_MESSAGES or LANG starts with "ru";
the configurator's own texts are shown as it shows them.

Exit status:
   0  success; diff: the files are equal
   1  diff: the files differ; write --verify: the emulator holds other settings
   2  wrong command line
   3  a settings file cannot be read (missing, no permission, shorter than 328 bytes)
   4  the port cannot be opened (no such port, busy, permission denied)
   5  the emulator does not answer within 1500 ms
   6  the reply's status is not 81 (for write: the write was not confirmed)
   7  the reply has the wrong length
   8  the settings file cannot be written
   9  the reply is not recognised (no frame signature, or the answer to another command)
  10  the port failed during the exchange (line error, device lost, write failed)
)";

const char* const kRussian = R"(Использование: tilu-cli КОМАНДА [АРГУМЕНТ]...
Просматривает и сравнивает файлы настроек Тилу (.tilu), записывает настройки в эмулятор
и считывает их через последовательный порт так же, как конфигуратор: те же кадры, та же
выдержка (50 мс после первого байта ответа, 1500 мс на ответ эмулятора), те же параметры
линии (9600 8N1, порт занимается монопольно) и тот же формат файла.

Команды:
  ports                      список последовательных портов системы в порядке окна выбора порта
  show ФАЙЛ [--json]         показать файл настроек: режим, девять настроек (хранимое
                             значение и текст), время записи и описание
  diff A B                   перечислить режим и настройки, которыми различаются два файла
  write --port P ФАЙЛ [--verify]
                             записать режим и настройки из файла в эмулятор; --verify
                             считывает их обратно и называет каждую несовпавшую настройку
  read --port P [--save ФАЙЛ [--description ТЕКСТ]]
                             считать настройки эмулятора и показать их; --save сохраняет их
                             в файл настроек так же, как конфигуратор (описание «Новая
                             настройка», если не задано; не более 250 символов)
  levels --port P            считать уровни сигналов каналов А и В

  -h, --help                 показать эту справку и выйти
  --version                  показать версию и выйти

P — имя порта, как его выводит 'ports' (ttyUSB0), или путь к устройству (/dev/pts/3).
Ничего не записывается ни в эмулятор, ни в файл, если команда этого не требует; файлы
настроек открываются только для чтения.

Тексты значений используют десятичный разделитель региональных настроек; --json всегда
использует '.'. Форма JSON содержит ключи mode, settings (SignalDelay ... NegativeDuration,
у каждой held, position или on и text), savedAt (местное время в ISO 8601, null, если в
файле нет даты) и description, всегда в этом порядке. diff и --verify сравнивают то, что
получает эмулятор: режим и девять настроек, настройки да/нет — по смыслу; время записи и
описание не сравниваются.

Сообщения выводятся по-английски или по-русски, если LC_ALL, LC_MESSAGES или LANG
начинается с "ru"; собственные тексты конфигуратора выводятся так же, как он их показывает.

Код завершения:
   0  успешно; diff: файлы одинаковы
   1  diff: файлы различаются; write --verify: в эмуляторе другие настройки
   2  неверная командная строка
   3  файл настроек не читается (нет файла, нет доступа, короче 328 байт)
   4  порт не открывается (нет такого порта, порт занят, нет доступа)
   5  эмулятор не ответил за 1500 мс
   6  статус ответа не 81 (для write: запись не подтверждена)
   7  неверная длина ответа
   8  файл настроек не записывается
   9  ответ не распознан (нет сигнатуры кадра или это ответ на другую команду)
  10  сбой порта во время обмена (ошибка линии, устройство пропало, запись не удалась)
)";

} // namespace

QString HelpText(Language language) {
    return QString::fromUtf8(language == Language::Russian ? kRussian : kEnglish);
}

} // namespace tilu::cli
