<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>DialogSettingsLog</name>
    <message>
        <source>Настройка лога</source>
        <translation>Log Settings</translation>
    </message>
    <message>
        <source>Значения лога</source>
        <translation>Logged values</translation>
    </message>
    <message>
        <source>Разделитель целой части</source>
        <translation>Decimal separator</translation>
    </message>
    <message>
        <source>Точка</source>
        <translation>Point</translation>
    </message>
    <message>
        <source>Запятая</source>
        <translation>Comma</translation>
    </message>
    <message>
        <source>Период,мм:сс</source>
        <translation>Period, mm:ss</translation>
    </message>
    <message>
        <source>mm:ss</source>
        <translation>mm:ss</translation>
    </message>
    <message>
        <source>Добавить в лог время</source>
        <translation>Add time to the log</translation>
    </message>
    <message>
        <source>Дисплей</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>АЦП</source>
        <translation>ADC</translation>
    </message>
    <message>
        <source>чч:мм:сс</source>
        <translation>hh:mm:ss</translation>
    </message>
    <message>
        <source>мм:сс</source>
        <translation>mm:ss</translation>
    </message>
    <message>
        <source>ccсс</source>
        <translation>ssss</translation>
    </message>
    <message>
        <source>чч:мм:сс OS</source>
        <translation>hh:mm:ss OS</translation>
    </message>
</context>
<context>
    <name>LineView</name>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>U, В</source>
        <translation>U, V</translation>
    </message>
    <message>
        <source>I, А</source>
        <translation>I, A</translation>
    </message>
    <message>
        <source>Режим</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>Кто</source>
        <translation>Who</translation>
    </message>
    <message>
        <source>Выбранный источник откроется на панели</source>
        <translation>The chosen supply opens in the panel</translation>
    </message>
    <message>
        <source>Адреса</source>
        <translation>Addresses</translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Скан</source>
        <translation>Scan</translation>
    </message>
    <message>
        <source>Опрос адреса %1 (до %2), найдено: %3</source>
        <translation>Asking address %1 (to %2), found: %3</translation>
    </message>
    <message>
        <source>Нет подключения</source>
        <translation>Not connected</translation>
    </message>
    <message>
        <source>Найдено: %1</source>
        <translation>Found: %1</translation>
    </message>
    <message>
        <source>вкл</source>
        <translation>on</translation>
    </message>
    <message>
        <source>выкл</source>
        <translation>off</translation>
    </message>
    <message>
        <source>Уставки: %1 В, %2 А</source>
        <translation>Set-points: %1 V, %2 A</translation>
    </message>
    <message>
        <source>окно</source>
        <translation>window</translation>
    </message>
    <message>
        <source>прогон</source>
        <translation>run</translation>
    </message>
    <message>
        <source>наблюдение</source>
        <translation>watch</translation>
    </message>
    <message>
        <source>поиск</source>
        <translation>scan</translation>
    </message>
    <message>
        <source>сервер SCPI</source>
        <translation>SCPI server</translation>
    </message>
    <message>
        <source>команда %1</source>
        <translation>command %1</translation>
    </message>
    <message>
        <source>%1, %2 (pid %3)</source>
        <translation>%1, %2 (pid %3)</translation>
    </message>
</context>
<context>
    <name>LiveChart</name>
    <message>
        <source>Сохранить график</source>
        <translation>Save Chart</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Не удается сохранить файл</source>
        <translation>Cannot save the file</translation>
    </message>
    <message>
        <source>вся запись</source>
        <translation>whole record</translation>
    </message>
    <message>
        <source>видимый участок</source>
        <translation>visible span</translation>
    </message>
    <message>
        <source>Видимый участок: PNG и CSV (*.png)</source>
        <translation>Visible span: PNG and CSV (*.png)</translation>
    </message>
    <message>
        <source>Вся запись: PNG и CSV (*.png)</source>
        <translation>Whole record: PNG and CSV (*.png)</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Velkaro</source>
        <translation>Velkaro</translation>
    </message>
    <message>
        <source>Tab 1</source>
        <translation>Tab 1</translation>
    </message>
    <message>
        <source>Дисплей</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>CV</source>
        <translation>CV</translation>
    </message>
    <message>
        <source>CC</source>
        <translation>CC</translation>
    </message>
    <message>
        <source>A  </source>
        <translation>A  </translation>
    </message>
    <message>
        <source>   V</source>
        <translation>   V</translation>
    </message>
    <message>
        <source>Управление</source>
        <translation>Control</translation>
    </message>
    <message>
        <source> V</source>
        <translation> V</translation>
    </message>
    <message>
        <source>Применить</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source> A</source>
        <translation> A</translation>
    </message>
    <message>
        <source>Off/On</source>
        <translation>Off/On</translation>
    </message>
    <message>
        <source>Страница</source>
        <translation>Page</translation>
    </message>
    <message>
        <source>Tab 2</source>
        <translation>Tab 2</translation>
    </message>
    <message>
        <source>Напряжение</source>
        <translation>Voltage</translation>
    </message>
    <message>
        <source>Ток</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>Температура</source>
        <translation>Temperature</translation>
    </message>
    <message>
        <source> С</source>
        <translation> °C</translation>
    </message>
    <message>
        <source>Напряжение Uin</source>
        <translation>Uin voltage</translation>
    </message>
    <message>
        <source>Напряжение Upwm</source>
        <translation>Upwm voltage</translation>
    </message>
    <message>
        <source>Напряжение Uref</source>
        <translation>Uref voltage</translation>
    </message>
    <message>
        <source>Rezerv</source>
        <translation>Reserved</translation>
    </message>
    <message>
        <source>Ku ADC Voltage</source>
        <translation>Ku ADC Voltage</translation>
    </message>
    <message>
        <source>Off ADC Voltage</source>
        <translation>Off ADC Voltage</translation>
    </message>
    <message>
        <source>Ku ADC Current</source>
        <translation>Ku ADC Current</translation>
    </message>
    <message>
        <source>Off ADC Current</source>
        <translation>Off ADC Current</translation>
    </message>
    <message>
        <source>Ku ADC Current Fine</source>
        <translation>Ku ADC Current Fine</translation>
    </message>
    <message>
        <source>Off ADC Current Fine</source>
        <translation>Off ADC Current Fine</translation>
    </message>
    <message>
        <source>Ku DAC Voltage</source>
        <translation>Ku DAC Voltage</translation>
    </message>
    <message>
        <source>Off DAC Voltage</source>
        <translation>Off DAC Voltage</translation>
    </message>
    <message>
        <source>Ku DAC Current</source>
        <translation>Ku DAC Current</translation>
    </message>
    <message>
        <source>Off DAC Current</source>
        <translation>Off DAC Current</translation>
    </message>
    <message>
        <source>Rout</source>
        <translation>Rout</translation>
    </message>
    <message>
        <source>Read Ram</source>
        <translation>Read RAM</translation>
    </message>
    <message>
        <source>Write Ram</source>
        <translation>Write RAM</translation>
    </message>
    <message>
        <source>Read Eprom</source>
        <translation>Read EPROM</translation>
    </message>
    <message>
        <source>Write Eprom</source>
        <translation>Write EPROM</translation>
    </message>
    <message>
        <source>NVP status</source>
        <translation>NVP status</translation>
    </message>
    <message>
        <source>Life counter</source>
        <translation>Life counter</translation>
    </message>
    <message>
        <source>Current trigger status</source>
        <translation>Current trigger status</translation>
    </message>
    <message>
        <source>Current trigger time</source>
        <translation>Current trigger time</translation>
    </message>
    <message>
        <source>AdjStatus</source>
        <translation>AdjStatus</translation>
    </message>
    <message>
        <source>CurrentAdj34Status</source>
        <translation>CurrentAdj34Status</translation>
    </message>
    <message>
        <source>VoltmetrStatus</source>
        <translation>VoltmetrStatus</translation>
    </message>
    <message>
        <source>VoltmetrTime</source>
        <translation>VoltmetrTime</translation>
    </message>
    <message>
        <source>Current trigger flag</source>
        <translation>Current trigger flag</translation>
    </message>
    <message>
        <source>Reserv</source>
        <translation>Reserved</translation>
    </message>
    <message>
        <source>Считать</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>График</source>
        <translation>Chart</translation>
    </message>
    <message>
        <source>1 мин</source>
        <translation>1 min</translation>
    </message>
    <message>
        <source>10 мин</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>1 ч</source>
        <translation>1 h</translation>
    </message>
    <message>
        <source>Всё</source>
        <translation>All</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Не удается открыть порт</source>
        <translation>Cannot open the port</translation>
    </message>
    <message>
        <source>Потеряна связь с портом</source>
        <translation>Connection to the port lost</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Velkaro 1.1&lt;/h3&gt;&lt;p&gt;Панель управления лабораторным источником питания:
установка напряжения и тока, включение выхода, контроль режимов CV и CC,
внутренние измерения, калибровка, параметры пользователя и запись лога.&lt;/p&gt;&lt;p&gt;Связь с источником по последовательному порту, 9600 бод.&lt;/p&gt;&lt;p&gt;&amp;copy; norvel. Все права защищены.&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Velkaro 1.1&lt;/h3&gt;&lt;p&gt;Control panel for a laboratory power supply:
voltage and current setting, output switching, CV and CC mode indication,
internal measurements, calibration, user parameters and data logging.&lt;/p&gt;&lt;p&gt;Connects to the supply over a serial port at 9600 baud.&lt;/p&gt;&lt;p&gt;&amp;copy; norvel. All rights reserved.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>  Номер
  порта</source>
        <translation>  Serial
  port</translation>
    </message>
    <message>
        <source>Id slave</source>
        <translation>Slave ID</translation>
    </message>
    <message>
        <source>Панель</source>
        <translation>Panel</translation>
    </message>
    <message>
        <source>Лог</source>
        <translation>Log</translation>
    </message>
    <message>
        <source>АЦП</source>
        <translation>ADC</translation>
    </message>
    <message>
        <source>Калибр.</source>
        <translation>Calibr.</translation>
    </message>
    <message>
        <source>UserMenu</source>
        <translation>User Menu</translation>
    </message>
    <message>
        <source>Подключить</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Подключить прибор</source>
        <translation>Connect the instrument</translation>
    </message>
    <message>
        <source>Отключить</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Отключить прибор</source>
        <translation>Disconnect the instrument</translation>
    </message>
    <message>
        <source>Save File</source>
        <translation>Save File</translation>
    </message>
    <message>
        <source>Текстовый файл (*.txt)</source>
        <translation>Text file (*.txt)</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Не удается сохранить файл</source>
        <translation>Cannot save the file</translation>
    </message>
    <message>
        <source>Ошибка записи</source>
        <translation>Write error</translation>
    </message>
    <message>
        <source>Ошибка чтения</source>
        <translation>Read error</translation>
    </message>
    <message>
        <source>Лог не сохранён. Сохранить его перед выходом?</source>
        <translation>The log has not been saved. Save it before closing?</translation>
    </message>
    <message>
        <source>Потеряна связь с портом, переподключение</source>
        <translation>Connection to the port lost, reconnecting</translation>
    </message>
    <message>
        <source>Прогон</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>Напряжение и ток во времени, в отдельном окне</source>
        <translation>Voltage and current over time, in a window of its own</translation>
    </message>
    <message>
        <source>Программа шагов, пределы и запись, в отдельном окне</source>
        <translation>A program of steps, limits and recording, in a window of its own</translation>
    </message>
    <message>
        <source>Выключить выход</source>
        <translation>Switch the output off</translation>
    </message>
    <message>
        <source>Включает и выключает выход; %1 выключает его с любой страницы</source>
        <translation>Switches the output on and off; %1 switches it off from any page</translation>
    </message>
    <message>
        <source>нет ответа за %1 мс</source>
        <translation>no answer within %1 ms</translation>
    </message>
    <message>
        <source>ответ не прошёл проверку</source>
        <translation>a reply failed its checks</translation>
    </message>
    <message>
        <source>%1, адрес %2: %3</source>
        <translation>%1, address %2: %3</translation>
    </message>
    <message>
        <source>Источником управляет прогон; «Стоп» на странице «Прогон» возвращает управление</source>
        <translation>A run drives the supply; Stop on the Run page gives control back</translation>
    </message>
    <message>
        <source>Линия</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>Источники на линии и кто ими управляет, в отдельном окне</source>
        <translation>The supplies on the line and who drives them, in a window of their own</translation>
    </message>
    <message>
        <source>Порт свой, +%1</source>
        <translation>Port: own, +%1</translation>
    </message>
    <message>
        <source>Порт свой</source>
        <translation>Port: own</translation>
    </message>
    <message>
        <source>Окно держит порт; другие программы работают через него</source>
        <translation>The window holds the port; other programs work through it</translation>
    </message>
    <message>
        <source>Через %1 %2</source>
        <translation>Via %1 %2</translation>
    </message>
    <message>
        <source>Порт держит %1 (pid %2); окно работает через неё</source>
        <translation>%1 (pid %2) holds the port; the window works through it</translation>
    </message>
    <message>
        <source>Через другую программу</source>
        <translation>Via another program</translation>
    </message>
    <message>
        <source>Порт передаётся</source>
        <translation>Port changing hands</translation>
    </message>
    <message>
        <source>Программа, державшая порт, закрылась; окно берёт порт себе или подключается к новому владельцу</source>
        <translation>The program holding the port has gone; the window takes the port or attaches to its new owner</translation>
    </message>
    <message>
        <source>Источником управляет %1</source>
        <translation>The supply is driven by %1</translation>
    </message>
    <message>
        <source>источник не принял значения</source>
        <translation>the supply did not take the values</translation>
    </message>
</context>
<context>
    <name>PortFailureWords</name>
    <message>
        <source>порт не выбран</source>
        <translation>no port chosen</translation>
    </message>
    <message>
        <source>порт занят: его держит %1 (pid %2)</source>
        <translation>the port is busy: %1 (pid %2) holds it</translation>
    </message>
    <message>
        <source>другая программа</source>
        <translation>another program</translation>
    </message>
    <message>
        <source>порт занят другой программой</source>
        <translation>the port is busy: another program holds it</translation>
    </message>
    <message>
        <source>нет такого порта</source>
        <translation>no such port</translation>
    </message>
    <message>
        <source>нет прав на порт</source>
        <translation>no permission for the port</translation>
    </message>
    <message>
        <source>порт уже открыт</source>
        <translation>the port is open already</translation>
    </message>
    <message>
        <source>порт не принимает настройки линии</source>
        <translation>the port does not take the line settings</translation>
    </message>
    <message>
        <source>ошибка порта: %1</source>
        <translation>port error: %1</translation>
    </message>
</context>
<context>
    <name>ProgramFaultWords</name>
    <message>
        <source>В</source>
        <translation>V</translation>
    </message>
    <message>
        <source>А</source>
        <translation>A</translation>
    </message>
    <message>
        <source>Вт</source>
        <translation>W</translation>
    </message>
    <message>
        <source>А·ч</source>
        <translation>Ah</translation>
    </message>
    <message>
        <source>Вт·ч</source>
        <translation>Wh</translation>
    </message>
    <message>
        <source>с</source>
        <translation>s</translation>
    </message>
    <message>
        <source>не удаётся прочитать %1: %2</source>
        <translation>cannot read %1: %2</translation>
    </message>
    <message>
        <source>%1 — не текстовый файл</source>
        <translation>%1 is not a text file</translation>
    </message>
    <message>
        <source>двойная кавычка без пары</source>
        <translation>unbalanced double quote</translation>
    </message>
    <message>
        <source>неизвестный столбец «%1»</source>
        <translation>unknown column &quot;%1&quot;</translation>
    </message>
    <message>
        <source>столбец «%1» встречается дважды</source>
        <translation>column &quot;%1&quot; appears twice</translation>
    </message>
    <message>
        <source>в заголовке нет столбца «%1»</source>
        <translation>the header lacks the column &quot;%1&quot;</translation>
    </message>
    <message>
        <source>полей %1, а в заголовке %2</source>
        <translation>%1 fields where the header has %2</translation>
    </message>
    <message>
        <source>нет значения для «%1»</source>
        <translation>no value for &quot;%1&quot;</translation>
    </message>
    <message>
        <source>напряжение «%1» — не число от %2 до %3 В</source>
        <translation>voltage &quot;%1&quot; is not a number from %2 to %3 V</translation>
    </message>
    <message>
        <source>напряжение «%1» — не число от %2 до %3 В; наименьшая уставка источника — %2 В, поэтому подъём от 0 начинается с %2</source>
        <translation>voltage &quot;%1&quot; is not a number from %2 to %3 V; %2 V is the supply&apos;s lowest set-point, so a ramp from 0 starts at %2</translation>
    </message>
    <message>
        <source>ток «%1» — не число от %2 до %3 А</source>
        <translation>current &quot;%1&quot; is not a number from %2 to %3 A</translation>
    </message>
    <message>
        <source>длительность «%1» — не время больше 0 (секунды, мм:сс или чч:мм:сс)</source>
        <translation>duration &quot;%1&quot; is not a time above 0 (seconds, mm:ss or hh:mm:ss)</translation>
    </message>
    <message>
        <source>подъём «%1» — не время (секунды, мм:сс или чч:мм:сс)</source>
        <translation>ramp &quot;%1&quot; is not a time (seconds, mm:ss or hh:mm:ss)</translation>
    </message>
    <message>
        <source>подъём «%1» длиннее шага</source>
        <translation>ramp &quot;%1&quot; is longer than the step&apos;s duration</translation>
    </message>
    <message>
        <source>выход «%1» — не on и не off</source>
        <translation>output &quot;%1&quot; is neither on nor off</translation>
    </message>
    <message>
        <source>в программе нет строки заголовка</source>
        <translation>the program has no header row</translation>
    </message>
    <message>
        <source>в программе нет шагов</source>
        <translation>the program has no steps</translation>
    </message>
    <message>
        <source>условие «%1» не в виде ВЕЛИЧИНА ОП ЧИСЛО (ОП — одно из &lt; &lt;= &gt; &gt;=)</source>
        <translation>condition &quot;%1&quot; is not QUANTITY OP NUMBER (OP one of &lt; &lt;= &gt; &gt;=)</translation>
    </message>
    <message>
        <source>неизвестная величина «%1» (voltage, current, power, temperature, charge, energy, elapsed, step_charge, step_energy или step_elapsed)</source>
        <translation>unknown quantity &quot;%1&quot; (voltage, current, power, temperature, charge, energy, elapsed, step_charge, step_energy or step_elapsed)</translation>
    </message>
    <message>
        <source>«%1» в условии «%2» — не число</source>
        <translation>&quot;%1&quot; in condition &quot;%2&quot; is not a number</translation>
    </message>
    <message>
        <source>условие «%1» не принято: %2</source>
        <translation>condition &quot;%1&quot; is refused: %2</translation>
    </message>
    <message>
        <source>%1 не бывает меньше нуля</source>
        <translation>%1 is never negative</translation>
    </message>
    <message>
        <source>%1 %2 %3 — вне пределов источника, от %4 до %5 %3</source>
        <translation>%1 %2 %3 is outside the supply&apos;s %4 to %5 %3</translation>
    </message>
    <message>
        <source>%1 %2 %3 — больше предела источника, %4 %3</source>
        <translation>%1 %2 %3 is beyond the supply&apos;s %4 %3</translation>
    </message>
    <message>
        <source>%1 не бывает меньше %2 %3</source>
        <translation>%1 is never below %2 %3</translation>
    </message>
    <message>
        <source>строка %1: %2</source>
        <translation>line %1: %2</translation>
    </message>
</context>
<context>
    <name>RunPage</name>
    <message>
        <source>без программы: только запись</source>
        <translation>no program: recording only</translation>
    </message>
    <message>
        <source>…</source>
        <translation>…</translation>
    </message>
    <message>
        <source>Открыть программу</source>
        <translation>Open a program</translation>
    </message>
    <message>
        <source>Программа:</source>
        <translation>Program:</translation>
    </message>
    <message>
        <source>∞</source>
        <translation>∞</translation>
    </message>
    <message>
        <source>Не выключать выход</source>
        <translation>Keep the output on</translation>
    </message>
    <message>
        <source>В конце программы и по «Стоп» выход остаётся включённым</source>
        <translation>The output stays on at the end of the program and on Stop</translation>
    </message>
    <message>
        <source> с</source>
        <translation> s</translation>
    </message>
    <message>
        <source>все</source>
        <translation>all</translation>
    </message>
    <message>
        <source>Строка записи на каждое чтение состояния или не чаще чем раз в столько секунд</source>
        <translation>A recording row for every status reading, or at most once in this many seconds</translation>
    </message>
    <message>
        <source>Повторов:</source>
        <translation>Repeats:</translation>
    </message>
    <message>
        <source>Строки:</source>
        <translation>Rows:</translation>
    </message>
    <message>
        <source>—</source>
        <translation>—</translation>
    </message>
    <message>
        <source>Напряжение, В</source>
        <translation>Voltage, V</translation>
    </message>
    <message>
        <source>Ток, А</source>
        <translation>Current, A</translation>
    </message>
    <message>
        <source>Мощность, Вт</source>
        <translation>Power, W</translation>
    </message>
    <message>
        <source>Температура, °C</source>
        <translation>Temperature, °C</translation>
    </message>
    <message>
        <source>Заряд, А·ч</source>
        <translation>Charge, Ah</translation>
    </message>
    <message>
        <source>Энергия, Вт·ч</source>
        <translation>Energy, Wh</translation>
    </message>
    <message>
        <source>Время, с</source>
        <translation>Time, s</translation>
    </message>
    <message>
        <source>Пределы (выключают выход):</source>
        <translation>Limits (switch the output off):</translation>
    </message>
    <message>
        <source>Выбрать файл записи</source>
        <translation>Choose the recording file</translation>
    </message>
    <message>
        <source>Дописать в существующий файл</source>
        <translation>Append to an existing file</translation>
    </message>
    <message>
        <source>Запись:</source>
        <translation>Recording:</translation>
    </message>
    <message>
        <source>Старт</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Программа прогона</source>
        <translation>Run program</translation>
    </message>
    <message>
        <source>Программы (*.csv);;Все файлы (*)</source>
        <translation>Programs (*.csv);;All files (*)</translation>
    </message>
    <message>
        <source>Файл записи</source>
        <translation>Recording file</translation>
    </message>
    <message>
        <source>Без программы: только запись</source>
        <translation>No program: recording only</translation>
    </message>
    <message>
        <source>Шагов в программе: %1</source>
        <translation>Steps in the program: %1</translation>
    </message>
    <message>
        <source>Программа не принята: %1</source>
        <translation>Program refused: %1</translation>
    </message>
    <message>
        <source>%1. %2 В %3 А %4</source>
        <translation>%1. %2 V %3 A %4</translation>
    </message>
    <message>
        <source> плавно %1</source>
        <translation> ramp %1</translation>
    </message>
    <message>
        <source> выкл</source>
        <translation> off</translation>
    </message>
    <message>
        <source> до %1</source>
        <translation> until %1</translation>
    </message>
    <message>
        <source>Не выбран файл записи</source>
        <translation>No recording file chosen</translation>
    </message>
    <message>
        <source>Запись не открыта: %1</source>
        <translation>Recording not opened: %1</translation>
    </message>
    <message>
        <source>источник не подтвердил запись</source>
        <translation>the supply did not confirm the write</translation>
    </message>
    <message>
        <source>Прогон</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>Идёт прогон. Остановить его и закрыть окно?</source>
        <translation>A run is in progress. Stop it and close the window?</translation>
    </message>
    <message>
        <source>Идёт прогон. Остановить его, выключить выход и закрыть окно?</source>
        <translation>A run is in progress. Stop it, switch the output off and close the window?</translation>
    </message>
    <message>
        <source>Событие: %1</source>
        <translation>Event: %1</translation>
    </message>
    <message>
        <source>Шаг %1/%2, осталось %3, </source>
        <translation>Step %1/%2, %3 left, </translation>
    </message>
    <message>
        <source>прошло %1
%2 А·ч  %3 Вт·ч  %4 Вт</source>
        <translation>elapsed %1
%2 Ah  %3 Wh  %4 W</translation>
    </message>
    <message>
        <source>Время шага, с</source>
        <translation>Step time, s</translation>
    </message>
    <message>
        <source>Заряд шага, А·ч</source>
        <translation>Step charge, Ah</translation>
    </message>
    <message>
        <source>Энергия шага, Вт·ч</source>
        <translation>Step energy, Wh</translation>
    </message>
    <message>
        <source>Предел %1 не принят: у источника нет таких значений (0–30 В, 0–10 А, до 300 Вт; заряд, энергия и время не бывают отрицательными)</source>
        <translation>Limit %1 refused: the supply has no such values (0–30 V, 0–10 A, up to 300 W; charge, energy and time are never negative)</translation>
    </message>
    <message>
        <source>Файл записи %1 занят другой программой</source>
        <translation>The recording %1 is in use by another program</translation>
    </message>
    <message>
        <source>Файл записи %1 занят: его пишет %2 (pid %3)</source>
        <translation>The recording %1 is in use by %2 (pid %3)</translation>
    </message>
    <message>
        <source>начало</source>
        <translation>start</translation>
    </message>
    <message>
        <source>конец программы</source>
        <translation>end of the program</translation>
    </message>
    <message>
        <source>остановка</source>
        <translation>stop</translation>
    </message>
    <message>
        <source>пропуск в показаниях</source>
        <translation>gap in the readings</translation>
    </message>
    <message>
        <source>порт потерян</source>
        <translation>port lost</translation>
    </message>
    <message>
        <source>порт снова открыт</source>
        <translation>port reopened</translation>
    </message>
    <message>
        <source>шаг %1</source>
        <translation>step %1</translation>
    </message>
    <message>
        <source>предел %1</source>
        <translation>limit %1</translation>
    </message>
    <message>
        <source>условие шага %1</source>
        <translation>step condition %1</translation>
    </message>
    <message>
        <source>выключен (подтверждено)</source>
        <translation>off (confirmed)</translation>
    </message>
    <message>
        <source>оставлен включённым</source>
        <translation>kept on</translation>
    </message>
    <message>
        <source>неизвестно</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>%1 А·ч, %2 Вт·ч, выход: %3</source>
        <translation>%1 Ah, %2 Wh, output: %3</translation>
    </message>
    <message>
        <source>Итог за %1: только запись, %2</source>
        <translation>Summary after %1: recording only, %2</translation>
    </message>
    <message>
        <source>Итог за %1: шагов выполнено %2, проход %3 из %4, %5</source>
        <translation>Summary after %1: %2 steps done, pass %3 of %4, %5</translation>
    </message>
    <message>
        <source>Записи (*.csv)</source>
        <translation>Recordings (*.csv)</translation>
    </message>
    <message>
        <source>Все файлы (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>источник не отвечает</source>
        <translation>the supply does not answer</translation>
    </message>
    <message>
        <source>Сколько секунд источник может молчать, прежде чем прогон прервётся с выключением выхода</source>
        <translation>How many seconds the supply may stay silent before the run aborts and switches the output off</translation>
    </message>
    <message>
        <source>Ждать связь</source>
        <translation>Wait for the link</translation>
    </message>
    <message>
        <source>Потерянный порт открывается заново, молчащий источник ожидается — не дольше указанного</source>
        <translation>A lost port is reopened and a silent supply waited for, no longer than this</translation>
    </message>
    <message>
        <source>Сколько секунд выключение выхода повторяется, пока источник не отвечает</source>
        <translation>How many seconds switching the output off is retried while the supply does not answer</translation>
    </message>
    <message>
        <source>Тишина:</source>
        <translation>Silence:</translation>
    </message>
    <message>
        <source>Выключать:</source>
        <translation>Switch off:</translation>
    </message>
    <message>
        <source>Запись</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>Файл записи уже есть и не пуст:
%1</source>
        <translation>The recording file exists and is not empty:
%1</translation>
    </message>
    <message>
        <source>Дописать</source>
        <translation>Append</translation>
    </message>
    <message>
        <source>Заменить…</source>
        <translation>Replace…</translation>
    </message>
    <message>
        <source>Прежняя запись в файле %1 пропадёт. Заменить её?</source>
        <translation>The earlier recording in %1 will be lost. Replace it?</translation>
    </message>
    <message>
        <source>Идёт прогон. Остановить его и отключиться?</source>
        <translation>A run is in progress. Stop it and disconnect?</translation>
    </message>
    <message>
        <source>Идёт прогон. Остановить его, выключить выход и отключиться?</source>
        <translation>A run is in progress. Stop it, switch the output off and disconnect?</translation>
    </message>
    <message>
        <source>выход выключен</source>
        <translation>output switched off</translation>
    </message>
    <message>
        <source>состояние выхода неизвестно</source>
        <translation>the output state is unknown</translation>
    </message>
    <message>
        <source>прервано: %1</source>
        <translation>aborted: %1</translation>
    </message>
    <message>
        <source>выход оставлен</source>
        <translation>output left as it is</translation>
    </message>
    <message>
        <source>Программа выполнена; %1</source>
        <translation>Program completed; %1</translation>
    </message>
    <message>
        <source>Прогон остановлен; %1</source>
        <translation>Run stopped; %1</translation>
    </message>
    <message>
        <source>Сработал предел: %1; %2</source>
        <translation>Limit reached: %1; %2</translation>
    </message>
    <message>
        <source>Запись не удалась, прогон прерван: %1; %2</source>
        <translation>Recording failed, run aborted: %1; %2</translation>
    </message>
    <message>
        <source>Прогон прерван: %1; %2</source>
        <translation>Run aborted: %1; %2</translation>
    </message>
    <message>
        <source>  нет ответа</source>
        <translation>  no answer</translation>
    </message>
    <message>
        <source>Идёт прогон, линией пользуются и другие программы (%1). Остановить прогон и оставить линию им?</source>
        <translation>A run is in progress and other programs (%1) use the line. Stop the run and leave the line to them?</translation>
    </message>
    <message>
        <source>Идёт прогон, линией пользуются и другие программы (%1). Остановить прогон, выключить выход этого источника и оставить линию им? Их источники останутся как есть.</source>
        <translation>A run is in progress and other programs (%1) use the line. Stop the run, switch this supply&apos;s output off and leave the line to them? Their supplies stay as they are.</translation>
    </message>
</context>
<context>
    <name>SetpointSpinBox</name>
    <message>
        <source>Допустимо от %1 до %2%4, шаг %3</source>
        <translation>Takes %1 to %2%4 in steps of %3</translation>
    </message>
</context>
<context>
    <name>SupplyReadings</name>
    <message>
        <source>Выключить</source>
        <translation>Switch off</translation>
    </message>
    <message>
        <source>Включить</source>
        <translation>Switch on</translation>
    </message>
    <message>
        <source>нет ответа %1 с</source>
        <translation>no answer for %1 s</translation>
    </message>
</context>
</TS>
