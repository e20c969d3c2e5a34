<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="en">
<context>
    <name>vardek::station::RackEngine</name>
    <message>
        <source>could not be sent to %1</source>
        <translation>%1 に送信できませんでした</translation>
    </message>
    <message>
        <source>a test is still running</source>
        <translation>まだ試験中です</translation>
    </message>
    <message>
        <source>there is no slot %1</source>
        <translation>スロット %1 はありません</translation>
    </message>
</context>
<context>
    <name>vardek::station::StationTile</name>
    <message>
        <source>RETEST</source>
        <translation>再試験</translation>
    </message>
    <message>
        <source>Serial</source>
        <translation>シリアル番号</translation>
    </message>
    <message>
        <source>Serial in %1</source>
        <translation>%1 のシリアル番号</translation>
    </message>
    <message>
        <source>Scan or type the unit&apos;s serial, then Enter</source>
        <translation>ユニットのシリアル番号をスキャンするか入力して、Enter を押してください</translation>
    </message>
    <message>
        <source>Progress in %1</source>
        <translation>%1 の進捗</translation>
    </message>
    <message>
        <source>WAITING</source>
        <translation>待機中</translation>
    </message>
    <message>
        <source>Refused: %1</source>
        <translation>受け付けられません: %1</translation>
    </message>
    <message>
        <source>Scan the unit&apos;s serial</source>
        <translation>ユニットのシリアル番号をスキャンしてください</translation>
    </message>
    <message>
        <source>Ready to test</source>
        <translation>試験の準備ができています</translation>
    </message>
    <message>
        <source>TESTING</source>
        <translation>試験中</translation>
    </message>
    <message>
        <source>STOPPED</source>
        <translation>中止</translation>
    </message>
    <message>
        <source>The run was stopped before this unit&apos;s verdict</source>
        <translation>このユニットの判定が出る前に試験を中止しました</translation>
    </message>
    <message>
        <source>%1, %2 of %3 requests</source>
        <translation>%1、要求 %3 件中 %2 件</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1 (retest)</source>
        <translation>%1（再試験）</translation>
    </message>
</context>
<context>
    <name>vardek::station::StationWindow</name>
    <message>
        <source>vardek-station</source>
        <translation>vardek-station</translation>
    </message>
    <message>
        <source>&amp;Station</source>
        <translation>ステーション(&amp;S)</translation>
    </message>
    <message>
        <source>Change &amp;operator (new shift)</source>
        <translation>作業者の交代（新しいシフト）(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Test the slots with a serial</source>
        <translation>シリアル番号のあるスロットを試験(&amp;T)</translation>
    </message>
    <message>
        <source>&amp;Sound on each verdict</source>
        <translation>判定ごとに音を鳴らす(&amp;S)</translation>
    </message>
    <message>
        <source>The sound&apos;s setting could not be kept: it holds for this run only</source>
        <translation>音の設定を保存できませんでした。今回の起動の間だけ有効です</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>Operator</source>
        <translation>作業者</translation>
    </message>
    <message>
        <source>Who is at this station?</source>
        <translation>このステーションの作業者は？</translation>
    </message>
    <message>
        <source>Type your &amp;name, then Enter. It goes into the record of every unit you test.</source>
        <translation>名前(&amp;N)を入力して Enter を押してください。試験するすべてのユニットの記録に残ります。</translation>
    </message>
    <message>
        <source>Operator&apos;s name</source>
        <translation>作業者の名前</translation>
    </message>
    <message>
        <source>The name that goes into the record of every unit tested from now on</source>
        <translation>これから試験するすべてのユニットの記録に入る名前</translation>
    </message>
    <message>
        <source>Problems</source>
        <translation>問題</translation>
    </message>
    <message>
        <source>&amp;Dismiss</source>
        <translation>閉じる(&amp;D)</translation>
    </message>
    <message>
        <source>Takes the problems shown away</source>
        <translation>表示中の問題を消します</translation>
    </message>
    <message>
        <source>Shift</source>
        <translation>シフト</translation>
    </message>
    <message>
        <source>Test the slots
with a serial (Ctrl+Enter)</source>
        <translation>シリアル番号のある
スロットを試験 (Ctrl+Enter)</translation>
    </message>
    <message>
        <source>Test the slots with a serial</source>
        <translation>シリアル番号のあるスロットを試験</translation>
    </message>
    <message>
        <source>Starts testing the slots that have a serial, leaving the others</source>
        <translation>シリアル番号のあるスロットだけ試験を始めます。ほかのスロットはそのままです</translation>
    </message>
    <message>
        <source>START</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>Starts testing every slot, once each has a serial; Space or Enter presses it</source>
        <translation>すべてのスロットにシリアル番号が入ると、全スロットの試験を始めます。Space キーか Enter キーで押せます</translation>
    </message>
    <message>
        <source>Question</source>
        <translation>確認</translation>
    </message>
    <message>
        <source>Yes (Y)</source>
        <translation>はい (Y)</translation>
    </message>
    <message>
        <source>No (N)</source>
        <translation>いいえ (N)</translation>
    </message>
    <message>
        <source>Answers yes; the Y key does too</source>
        <translation>「はい」と答えます。Y キーでも答えられます</translation>
    </message>
    <message>
        <source>Answers no; the N key does too</source>
        <translation>「いいえ」と答えます。N キーでも答えられます</translation>
    </message>
    <message>
        <source>A name is needed: every unit&apos;s record says who tested it.</source>
        <translation>名前が必要です。各ユニットの記録には試験した人の名前が残ります。</translation>
    </message>
    <message>
        <source>Operator: %1</source>
        <translation>作業者: %1</translation>
    </message>
    <message>
        <source>already scanned into %1</source>
        <translation>すでに %1 にスキャンされています</translation>
    </message>
    <message>
        <source>The run did not start: %1</source>
        <translation>試験を開始できませんでした: %1</translation>
    </message>
    <message>
        <source>%1 %</source>
        <comment>a percentage</comment>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>Shift (%1): %2 tested, %3 passed, first-pass yield %4</source>
        <translation>シフト（%1）: 試験 %2 台、合格 %3 台、直行率 %4</translation>
    </message>
    <message>
        <source>today at this station, from the results store</source>
        <translation>本日このステーション、結果ストアより</translation>
    </message>
    <message>
        <source>since this window started</source>
        <translation>このウィンドウの起動以降</translation>
    </message>
    <message>
        <source>No failures</source>
        <translation>不合格なし</translation>
    </message>
    <message>
        <source>Last failures: %1</source>
        <translation>最近の不合格: %1</translation>
    </message>
    <message>
        <source>Stopping: putting the outputs back. The window closes when that is done.</source>
        <translation>停止中: 出力を元に戻しています。終わるとウィンドウを閉じます。</translation>
    </message>
    <message>
        <source>No slot has a serial: scan the units&apos; serials first (the same one again to retest a unit).</source>
        <translation>シリアル番号のあるスロットがありません。先にユニットのシリアル番号をスキャンしてください（再試験するときも同じ番号をもう一度スキャンします）。</translation>
    </message>
    <message>
        <source>No serial in %1: scan one into each (the same one again to retest a unit), or test only the slots that have one (Ctrl+Enter).</source>
        <translation>%1 にシリアル番号がありません。それぞれにスキャンするか（再試験するときも同じ番号をもう一度スキャンします）、シリアル番号のあるスロットだけを試験してください (Ctrl+Enter)。</translation>
    </message>
</context>
</TS>
