<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>PanelController</name>
    <message>
        <source>データ数が一致しません</source>
        <translation>The number of data bytes does not match</translation>
    </message>
    <message>
        <source>受信したデータに誤りがあります</source>
        <translation>The received data contains an error</translation>
    </message>
</context>
<context>
    <name>TVARDEK_Ctrl</name>
    <message>
        <source>ポートＡ（アナログ入力)</source>
        <translation>Port A (analog input)</translation>
    </message>
    <message>
        <source>ポートＢ</source>
        <translation>Port B</translation>
    </message>
    <message>
        <source>受信データ</source>
        <translation>Received data</translation>
    </message>
    <message>
        <source>ボードから受信した8バイトの16進表示</source>
        <translation>The 8 bytes received from the board, in hexadecimal</translation>
    </message>
    <message>
        <source>RA5の温度（℃）</source>
        <translation>The temperature at RA5 (℃)</translation>
    </message>
    <message>
        <source>RA3の変換値（16進と10進）</source>
        <translation>The conversion result of RA3 (hexadecimal and decimal)</translation>
    </message>
    <message>
        <source>RA2の変換値（16進と10進）</source>
        <translation>The conversion result of RA2 (hexadecimal and decimal)</translation>
    </message>
    <message>
        <source>RA1の変換値（16進と10進）</source>
        <translation>The conversion result of RA1 (hexadecimal and decimal)</translation>
    </message>
    <message>
        <source>RA0の変換値（16進と10進）</source>
        <translation>The conversion result of RA0 (hexadecimal and decimal)</translation>
    </message>
    <message>
        <source>応答なし</source>
        <translation>no response</translation>
    </message>
    <message>
        <source>応答なし: ボードはまだ応答していません</source>
        <translation>No response: the board has not answered yet</translation>
    </message>
    <message>
        <source>応答なし: 最後の応答は %1</source>
        <translation>No response: the last reply came at %1</translation>
    </message>
</context>
</TS>
