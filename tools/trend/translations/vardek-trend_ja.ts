<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="en">
<context>
    <name>CommandLine</name>
    <message>
        <source>%1 could not be written</source>
        <translation>%1 を書き込めませんでした</translation>
    </message>
    <message>
        <source>%1, every %2 ms</source>
        <translation>%1、%2 ms ごと</translation>
    </message>
</context>
<context>
    <name>vardek::trend::LogSource</name>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1 is not a readings log</source>
        <translation>%1 は読み取り値のログではありません</translation>
    </message>
    <message>
        <source>%1:%2: %3</source>
        <translation>%1:%2: %3</translation>
    </message>
    <message>
        <source>%1: further lines that cannot be read are passed over unreported</source>
        <translation>%1: これ以降の読めない行は知らせずに飛ばします</translation>
    </message>
    <message>
        <source>%1 was truncated: read again from its start</source>
        <translation>%1 が切り詰められました: 先頭から読み直します</translation>
    </message>
    <message>
        <source>%1 was rewritten: read again from its start</source>
        <translation>%1 が書き換えられました: 先頭から読み直します</translation>
    </message>
    <message>
        <source>%1 was deleted: waiting for a new file at its name</source>
        <translation>%1 が削除されました: 同じ名前の新しいファイルを待ちます</translation>
    </message>
    <message>
        <source>%1 was moved away: waiting for a new file at its name</source>
        <translation>%1 が移動されました: 同じ名前の新しいファイルを待ちます</translation>
    </message>
    <message>
        <source>%1 was replaced: following the new file</source>
        <translation>%1 が置き換えられました: 新しいファイルを追跡します</translation>
    </message>
</context>
<context>
    <name>vardek::trend::TrendChart</name>
    <message>
        <source>Readings chart</source>
        <translation>読み取り値のグラフ</translation>
    </message>
    <message>
        <source>Left and Right move the readout, Ctrl+Left and Ctrl+Right move the time shown, plus and minus zoom, Home follows the newest sample again, A and B set the markers at the readout, Delete clears them.</source>
        <translation>左右キーで読み取り位置を、Ctrl+左右キーで表示時間を動かし、プラスとマイナスで拡大・縮小、Homeで再び最新のサンプルを追い、AとBで読み取り位置にマーカーを置き、Deleteで消します。</translation>
    </message>
    <message>
        <source>RA0–RA3 (raw)</source>
        <translation>RA0–RA3（生の値）</translation>
    </message>
    <message>
        <source>RA5 (℃)</source>
        <translation>RA5（℃）</translation>
    </message>
</context>
<context>
    <name>vardek::trend::TrendWindow</name>
    <message>
        <source>1 min</source>
        <translation>1分</translation>
    </message>
    <message>
        <source>10 min</source>
        <translation>10分</translation>
    </message>
    <message>
        <source>1 h</source>
        <translation>1時間</translation>
    </message>
    <message>
        <source>24 h</source>
        <translation>24時間</translation>
    </message>
    <message>
        <source>All</source>
        <translation>すべて</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 秒</translation>
    </message>
    <message>
        <source>missed</source>
        <translation>欠測</translation>
    </message>
    <message>
        <source>Samples</source>
        <translation>サンプル</translation>
    </message>
    <message>
        <source>&amp;Pause</source>
        <translation>一時停止(&amp;P)</translation>
    </message>
    <message>
        <source>&amp;Run</source>
        <translation>再開(&amp;R)</translation>
    </message>
    <message>
        <source>%1 — vardek-trend</source>
        <translation>%1 — vardek-trend</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1 could not be written</source>
        <translation>%1 を書き込めませんでした</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>Save chart as &amp;PNG…</source>
        <translation>グラフをPNGで保存(&amp;P)…</translation>
    </message>
    <message>
        <source>Save chart as PNG</source>
        <translation>グラフをPNGで保存</translation>
    </message>
    <message>
        <source>PNG images (*.png)</source>
        <translation>PNG画像 (*.png)</translation>
    </message>
    <message>
        <source>Save chart as &amp;SVG…</source>
        <translation>グラフをSVGで保存(&amp;S)…</translation>
    </message>
    <message>
        <source>Save chart as SVG</source>
        <translation>グラフをSVGで保存</translation>
    </message>
    <message>
        <source>SVG drawings (*.svg)</source>
        <translation>SVG図形 (*.svg)</translation>
    </message>
    <message>
        <source>Save shown samples as &amp;CSV…</source>
        <translation>表示中のサンプルをCSVで保存(&amp;C)…</translation>
    </message>
    <message>
        <source>Save shown samples as CSV</source>
        <translation>表示中のサンプルをCSVで保存</translation>
    </message>
    <message>
        <source>CSV logs (*.csv)</source>
        <translation>CSVログ (*.csv)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>表示(&amp;V)</translation>
    </message>
    <message>
        <source>Controls</source>
        <translation>操作</translation>
    </message>
    <message>
        <source>Hold the chart where it is; sampling and logging go on (P)</source>
        <translation>グラフをその場で止めます。サンプリングと記録は続きます (P)</translation>
    </message>
    <message>
        <source>&amp;Follow the newest sample</source>
        <translation>最新のサンプルを追う(&amp;F)</translation>
    </message>
    <message>
        <source>Undo zoom and drag, and follow the newest sample (Home, double click)</source>
        <translation>拡大と移動を元に戻し、最新のサンプルを追います（Home、ダブルクリック）</translation>
    </message>
    <message>
        <source>Zoom &amp;in</source>
        <translation>拡大(&amp;I)</translation>
    </message>
    <message>
        <source>Zoom &amp;out</source>
        <translation>縮小(&amp;O)</translation>
    </message>
    <message>
        <source>Time &amp;window</source>
        <translation>表示時間(&amp;W)</translation>
    </message>
    <message>
        <source>Time &amp;window:</source>
        <translation>表示時間(&amp;W):</translation>
    </message>
    <message>
        <source>Time window</source>
        <translation>表示時間</translation>
    </message>
    <message>
        <source>&amp;Series</source>
        <translation>系列(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Axes</source>
        <translation>軸(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;Left axis automatic</source>
        <translation>左軸を自動(&amp;L)</translation>
    </message>
    <message>
        <source>&amp;Right axis automatic</source>
        <translation>右軸を自動(&amp;R)</translation>
    </message>
    <message>
        <source>Left axis &amp;fixed range…</source>
        <translation>左軸の範囲を固定(&amp;F)…</translation>
    </message>
    <message>
        <source>Right axis fi&amp;xed range…</source>
        <translation>右軸の範囲を固定(&amp;X)…</translation>
    </message>
    <message>
        <source>&amp;Markers</source>
        <translation>マーカー(&amp;M)</translation>
    </message>
    <message>
        <source>Set marker &amp;A at the readout</source>
        <translation>読み取り位置にマーカーAを置く(&amp;A)</translation>
    </message>
    <message>
        <source>Set marker &amp;B at the readout</source>
        <translation>読み取り位置にマーカーBを置く(&amp;B)</translation>
    </message>
    <message>
        <source>&amp;Clear markers</source>
        <translation>マーカーを消す(&amp;C)</translation>
    </message>
    <message>
        <source>Readout</source>
        <translation>読み取り</translation>
    </message>
    <message>
        <source>Every series at the readout&apos;s time and at the markers A and B, and B minus A</source>
        <translation>読み取り位置の時刻とマーカーA、Bでの各系列の値、およびBとAの差</translation>
    </message>
    <message>
        <source>Marker A</source>
        <translation>マーカーA</translation>
    </message>
    <message>
        <source>Marker B</source>
        <translation>マーカーB</translation>
    </message>
    <message>
        <source>B − A</source>
        <translation>B − A</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>時刻</translation>
    </message>
    <message>
        <source>%1 (℃)</source>
        <translation>%1（℃）</translation>
    </message>
    <message>
        <source>%1 — samples: %2, missed: %3</source>
        <translation>%1 — サンプル: %2、欠測: %3</translation>
    </message>
    <message>
        <source>Saved %1</source>
        <translation>%1 を保存しました</translation>
    </message>
    <message>
        <source>Left axis range</source>
        <translation>左軸の範囲</translation>
    </message>
    <message>
        <source>Right axis range</source>
        <translation>右軸の範囲</translation>
    </message>
    <message>
        <source>From</source>
        <translation>下限</translation>
    </message>
    <message>
        <source>To</source>
        <translation>上限</translation>
    </message>
    <message>
        <source>&amp;From:</source>
        <translation>下限(&amp;F):</translation>
    </message>
    <message>
        <source>&amp;To:</source>
        <translation>上限(&amp;T):</translation>
    </message>
</context>
</TS>
