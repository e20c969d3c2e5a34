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
    <message>
        <source>no sample for %1</source>
        <translation>%1 間サンプルなし</translation>
    </message>
    <message>
        <source>faults</source>
        <translation>異常</translation>
    </message>
    <message>
        <source>no reply</source>
        <translation>応答なし</translation>
    </message>
    <message>
        <source>not sent</source>
        <translation>未送信</translation>
    </message>
    <message>
        <source>wrong size</source>
        <translation>サイズ不正</translation>
    </message>
    <message>
        <source>late</source>
        <translation>遅延</translation>
    </message>
    <message>
        <source>retried</source>
        <translation>再送</translation>
    </message>
    <message>
        <source>%1 h %2 min %3 s</source>
        <translation>%1 時間 %2 分 %3 秒</translation>
    </message>
    <message>
        <source>%1 min %2 s</source>
        <translation>%1 分 %2 秒</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 秒</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1: %2 to %3</source>
        <translation>%1: %2〜%3</translation>
    </message>
    <message>
        <source>No samples shown.</source>
        <translation>表示中のサンプルはありません。</translation>
    </message>
    <message>
        <source>Shown: %1.</source>
        <translation>表示中: %1。</translation>
    </message>
    <message>
        <source>Marked: %1.</source>
        <translation>マーク: %1。</translation>
    </message>
    <message numerus="yes">
        <source>Time without samples: %n span(s).</source>
        <translation>
            <numerusform>サンプルのない時間: %n 区間。</numerusform>
        </translation>
    </message>
    <message>
        <source>not written</source>
        <translation>未記録</translation>
    </message>
    <message numerus="yes">
        <source>%n span(s) marked in the time shown</source>
        <translation>
            <numerusform>表示中の時間に %n 区間</numerusform>
        </translation>
    </message>
    <message>
        <source>hidden</source>
        <translation>非表示</translation>
    </message>
    <message>
        <source>no values shown</source>
        <translation>表示中の値なし</translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <translation>%1〜%2</translation>
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
        <source>missed</source>
        <translation>欠測</translation>
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
    <message>
        <source>, no sample for %1</source>
        <translation>、%1 間サンプルなし</translation>
    </message>
    <message>
        <source>More controls</source>
        <translation>その他の操作</translation>
    </message>
    <message>
        <source>Rea&amp;dout</source>
        <translation>読み取り(&amp;D)</translation>
    </message>
    <message>
        <source>S&amp;tatistics</source>
        <translation>統計(&amp;T)</translation>
    </message>
    <message>
        <source>&amp;Copy statistics</source>
        <translation>統計をコピー(&amp;C)</translation>
    </message>
    <message>
        <source>Copy the statistics of the time shown and between the markers as text</source>
        <translation>表示中の時間とマーカー間の統計をテキストとしてコピーします</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>統計</translation>
    </message>
    <message>
        <source>shown</source>
        <translation>表示中</translation>
    </message>
    <message>
        <source>A–B</source>
        <translation>A–B</translation>
    </message>
    <message>
        <source>n (%1)</source>
        <translation>件数 (%1)</translation>
    </message>
    <message>
        <source>min (%1)</source>
        <translation>最小 (%1)</translation>
    </message>
    <message>
        <source>max (%1)</source>
        <translation>最大 (%1)</translation>
    </message>
    <message>
        <source>mean (%1)</source>
        <translation>平均 (%1)</translation>
    </message>
    <message>
        <source>s.d. (%1)</source>
        <translation>標準偏差 (%1)</translation>
    </message>
    <message>
        <source>%1 %</source>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>shown: %1 to %2</source>
        <translation>表示中: %1 〜 %2</translation>
    </message>
    <message>
        <source>A–B: %1 to %2</source>
        <translation>A–B: %1 〜 %2</translation>
    </message>
    <message>
        <source>%1 outside its limits — %2</source>
        <translation>%1 が限度外 — %2</translation>
    </message>
    <message>
        <source>Sound on a reading outside its &amp;limits</source>
        <translation>読み値が限度を外れたら音で知らせる(&amp;L)</translation>
    </message>
    <message>
        <source>Rings the bell when a reading leaves the range of its limits</source>
        <translation>読み値が限度の範囲を外れたときにベルを鳴らします</translation>
    </message>
    <message>
        <source>Per series, of the time shown and between the markers A and B: the number of values, the minimum, the maximum, the mean, the standard deviation and the times the series left the range of its limits; last, the samples missed and their share</source>
        <translation>系列ごとに、表示中の時間とマーカー A・B 間の値の数、最小値、最大値、平均値、標準偏差、限度の範囲を外れた回数。最後の行は欠測サンプルの数と割合</translation>
    </message>
    <message>
        <source>excursions (%1)</source>
        <translation>限度外れ (%1)</translation>
    </message>
    <message>
        <source>Add a &amp;note…</source>
        <translation>メモを追加(&amp;N)…</translation>
    </message>
    <message>
        <source>Adds a note at the readout&apos;s time, or now, kept beside the log</source>
        <translation>読み取り位置の時刻（なければ現在時刻）にメモを追加し、ログの隣に保存します</translation>
    </message>
    <message>
        <source>Add a note</source>
        <translation>メモを追加</translation>
    </message>
    <message>
        <source>Note:</source>
        <translation>メモ:</translation>
    </message>
    <message>
        <source>The note could not be kept: %1</source>
        <translation>メモを保存できませんでした: %1</translation>
    </message>
    <message>
        <source>The sound&apos;s setting could not be kept: it holds for this run only</source>
        <translation>音の設定を保存できませんでした: この実行の間だけ有効です</translation>
    </message>
</context>
</TS>
