#include "HelpPage.h"

namespace HelpPage {

namespace {

#ifdef AUDIMERA_VERSION
constexpr const char* Version = AUDIMERA_VERSION;
#else
constexpr const char* Version = "0.1";
#endif

// The page is written for Qt's rich-text engine: HTML 4 elements, table
// attributes instead of style sheets, anchors as <a name>.
constexpr const char* Page = R"html(<html>
<head>
<title>Audimera Help</title>
</head>
<body>

<h1><a name="top">Audimera Help</a></h1>

<p>Audimera measures the frequency response of an audio chain &#8212; an
amplifier, a loudspeaker with its microphone, or a sound card looped back on
itself &#8212; with nothing but a PC sound card, and draws it as a curve of
level in dB over a logarithmic frequency axis. It is also a simple signal
generator with live level and signal-to-noise read-outs, and it shows the
recorded waveform and its spectrum while it measures.</p>

<p><b>Contents</b></p>
<ul>
<li><a href="#how">How Audimera measures</a></li>
<li><a href="#wiring">Connecting the audio chain</a></li>
<li><a href="#devices">Choosing the sound devices</a></li>
<li><a href="#levels">Setting the levels</a></li>
<li><a href="#calibration">The 0 dB reference</a></li>
<li><a href="#sweep">Measuring a response</a></li>
<li><a href="#generator">The signal generator</a></li>
<li><a href="#corrections">Corrections</a></li>
<li><a href="#soundcard">Measuring your sound card's own curve</a></li>
<li><a href="#files">File formats</a></li>
<li><a href="#windows">The windows</a></li>
<li><a href="#traces">Working with traces</a></li>
<li><a href="#menus">Menus</a></li>
<li><a href="#messages">Messages</a></li>
<li><a href="#headless">Measuring from a terminal</a></li>
<li><a href="#limits">Limits</a></li>
</ul>

<h2><a name="how">How Audimera measures</a></h2>

<p>For every test frequency Audimera plays a sine tone through the play
device, waits 200 ms for the chain to settle, records 30000 samples (about
0.68 s) through the record device and measures the recorded block. The level
of the block is the mean magnitude of its samples, taken from a rising zero
crossing about 90 ms into the block to its end, and it is expressed in dB
against a reference:</p>

<p><code>level = 20 &#215; log10(mean magnitude / reference) &#8722; corrections</code></p>

<p>The enabled <a href="#corrections">corrections</a> are subtracted, the
point is added to the newest trace, and the plot is redrawn. Between points
only the pitch of the tone changes, so the tone usually keeps playing without
a gap. One point takes a little under a second; the 31 ISO bands take about
half a minute.</p>

<p>The reference comes from a calibration that Audimera makes before the
first tone: it first records <b>silence</b>, whose highest sample is the
noise floor used by the signal-to-noise read-outs, then it plays and records
<b>white noise</b>, whose mean magnitude defines 0 dB. See
<a href="#calibration">The 0 dB reference</a>.</p>

<p>Levels are therefore relative &#8220;signal dB&#8221;: they are neither
sound pressure levels nor dBA. What a response curve tells you is its shape
and how it compares with other traces measured against the same
reference.</p>

<p>Audimera records one channel of 16-bit samples at 44100 samples per
second, and plays the same signal on both output channels.</p>

<h2><a name="wiring">Connecting the audio chain</a></h2>

<h3>A sound card looped back</h3>
<ul>
<li>Connect the card's line output to its line input with a cable. Avoid
the microphone input for a loopback: its gain is made for microphones and a
line-level signal clips it.</li>
<li>With PulseAudio or PipeWire you can also loop back without a cable: every
output has a source called &#8220;Monitor of&#8221; that output. Choose the
output as play device and its monitor as record device. This measures only
the digital path, which is flat, and is a quick way to check that Audimera
plays and records.</li>
</ul>

<h3>An amplifier and loudspeaker</h3>
<ul>
<li>Connect the sound card's output to the amplifier and the amplifier to
the loudspeaker.</li>
<li>Connect the measurement microphone, through its preamplifier or audio
interface, to the record device. If your microphone comes with a calibration
curve, use it as the <a href="#corrections">user calibration file</a>.</li>
<li>A sound level meter with an analogue output can serve as the microphone:
set it to C weighting and tick &#8220;Correct for 'C' SPL curve&#8221;.</li>
<li>The tone is sent to both channels; move the balance bar to one side to
drive one loudspeaker only.</li>
<li>Measure in a quiet room. Reflections and room resonances show in the
curve, mostly at low frequencies; a microphone close to the driver reduces
their share.</li>
</ul>

<p><b>Start with the volume low.</b> A sweep plays loud, steady tones; at a
high level they can damage tweeters and hearing.</p>

<h2><a name="devices">Choosing the sound devices</a></h2>

<p>The <b>Settings</b> menu holds &#8220;Play Device&#8221; and
&#8220;Record Device&#8221;. Each lists up to four devices of the sound
server, with the server's own descriptions; the first entry is the server's
default device, and the record list includes the monitors of the outputs.
The ticked entry is the device in use; choosing another entry switches to it
at once. Both menus are disabled while a sweep or the signal generator
runs.</p>

<p>After changing devices, press &#8220;Recenter 0dB&#8221; so that the next
measurement calibrates on the new chain.</p>

<h2><a name="levels">Setting the levels</a></h2>

<p>Three things set the level that reaches the input: the play level
(Audimera's Level bar and the system's output volume), the gain of whatever
sits in the chain (amplifier, microphone preamplifier), and the record level
of the input, which you set in the system's mixer (for example the desktop's
sound settings or <code>pavucontrol</code>). A good level is well above the
noise but never clipped, at every frequency of the sweep.</p>

<h3>Level and balance</h3>
<ul>
<li>The <b>Level:</b> bar in the &#8220;Simple Signal Generator&#8221; frame
sets the amplitude of everything Audimera plays, sweep tones included. Its
label shows the attenuation: &#8220;0.00 dB&#8221; at the right end,
&#8722;6.02 dB half way; at the left end the output is silent.</li>
<li>The balance bar below it, marked &#8220;Left&#8221;, &#8220;Center&#8221;
and &#8220;Right&#8221;, attenuates one side. The mark at which the bar stands
exactly is shown in blue; the labels at the ends show the attenuation of each
channel, or &#8220;Mute&#8221;.</li>
<li>Both act at once, also during a sweep &#8212; a change in the middle of a
sweep shows as a step in the trace.</li>
</ul>

<h3>The read-outs</h3>
<p>The &#8220;Measure&#8221; frame shows the last analysed block; every
read-out shows &#8220;N/A&#8221; until something has been measured.</p>
<table border="1" cellspacing="0" cellpadding="4">
<tr><th align="left">Read-out</th><th align="left">Meaning</th></tr>
<tr><td>Frequency:</td><td>The test frequency, or &#8220;Silence...&#8221;
and &#8220;White noise...&#8221; during the calibration.</td></tr>
<tr><td>Level:</td><td>The corrected level in dB against the 0 dB reference
(signal dB, not dBA).</td></tr>
<tr><td>Signal SNR:</td><td>The signal-to-noise ratio of the last block: its
highest sample against the noise floor recorded during the calibration
silence, in dB.</td></tr>
<tr><td>Card SNR:</td><td>The same ratio measured on the calibration white
noise: how far the whole chain rises above its noise.</td></tr>
</table>

<h3>Avoiding clipping</h3>
<p>With &#8220;Red/Skip measure if bad wave&#8221; ticked (the default),
Audimera checks every recorded block. A block is bad when a sample reaches
full scale (clipping), or, up to 4 kHz, when two neighbouring samples jump
further apart than a clean sine allows (a dropout or glitch). A bad block is
drawn in red in the waveform and FFT windows, and it is not used: a sweep
measures the same frequency again until a good block arrives, and the signal
generator leaves its read-outs unchanged. A sweep that seems stuck on one
frequency is usually clipping: lower the level or press &#8220;Stop&#8221;.
With the box unticked, bad blocks are neither coloured nor skipped.</p>

<h3>A way to set the levels</h3>
<ol>
<li>Turn the output volume and the amplifier down.</li>
<li>In the signal generator choose &#8220;Sine&#8221;, type 1000 in the
frequency box and press &#8220;Play Signal&#8221;. The first time, Audimera
calibrates first (silence, then white noise).</li>
<li>Raise the record level and the play level until the input waveform is a
clean green sine and &#8220;Signal SNR:&#8221; is high. Stay well below the
point where the waveform turns red: a loudspeaker's peaks at other
frequencies need the headroom.</li>
<li>Stop the signal and press &#8220;Recenter 0dB&#8221;, so that the next
measurement calibrates at these levels.</li>
</ol>

<h2><a name="calibration">The 0 dB reference</a></h2>

<p>The first sweep or signal after Audimera starts begins with the two
calibration passes: the Frequency read-out shows &#8220;Silence...&#8221;
while a silent block is recorded, then &#8220;White noise...&#8221; while
white noise plays. The white noise sets 0 dB; &#8220;Card SNR:&#8221; and
&#8220;Signal SNR:&#8221; show its signal-to-noise ratio.</p>

<p>The calibration is kept for as long as the program runs and is shared by
the sweep and the signal generator, so every trace measured since is on the
same scale and the traces can be compared directly.
<b>&#8220;Recenter 0dB&#8221;</b> forgets it: the next sweep or signal
calibrates again and so defines a new 0 dB. Press it after changing the
levels, the devices or the wiring &#8212; or keep the old reference on purpose
to see by how much a change moved the curve. The button is enabled when a
calibration is held and nothing is running.</p>

<h3>The low-signal warning</h3>
<p>When the white noise rises less than 3 dB above the silence, Audimera stops
the noise and asks &#8220;Warning: input level too low or too much
noise.&#8221; &#8212; &#8220;Adjust record level and play volume. Continue
anyway ?&#8221;. <b>No</b> ends the measurement without a calibration;
<b>Yes</b> calibrates with what was measured. The usual causes are a wrong
record device, a muted or unplugged input, or a play level far too low.</p>

<h2><a name="sweep">Measuring a response</a></h2>

<p>Choose a plan in the &#8220;Response Signal Generator&#8221; frame and
press <b>&#8220;Start Trace&#8221;</b>. Each measured point is added to a new
trace in the frequency response window, and the read-outs follow the sweep.
<b>&#8220;Stop&#8221;</b> ends the sweep at once; the points measured so far
stay as a trace. While a sweep runs, the start and stop boxes, the device
menus, &#8220;Recenter 0dB&#8221;, &#8220;Clear Traces&#8221;, the file
commands and the signal generator are disabled; the corrections, the display
check boxes and lists, the level and balance bars and the step bar can still
be changed and apply from the next point.</p>

<table border="1" cellspacing="0" cellpadding="4">
<tr><th align="left">Plan</th><th align="left">Frequencies</th></tr>
<tr><td>Range:</td><td>From the start frequency, each next frequency is the
last one times the step factor, up to the stop frequency; the last point is
measured exactly at the stop frequency. The step bar sets the factor from
1.01 to 2.00 (default 1.26, shown as &#8220;Step: x1.26&#8221; with your
desktop's decimal separator). From a whole frequency at which the step
would be smaller than 1 Hz, the sweep advances by exactly 1 Hz. The default 20 Hz to 20000 Hz at 1.26 gives 31
points.</td></tr>
<tr><td>15 ISO Bands 25Hz - 16kHz</td><td>25, 40, 63, 100, 160, 250, 400, 630,
1000, 1600, 2500, 4000, 6300, 10000, 16000 Hz.</td></tr>
<tr><td>31 ISO Bands 20Hz - 20kHz</td><td>The third-octave centres 20, 25,
31.5, 40, 50, 63, 80, 100, 125, 160, 200, 250, 315, 400, 500, 630, 800, 1000,
1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000,
20000 Hz.</td></tr>
<tr><td>User file :</td><td>The frequencies listed in the file named in the
box beside it (default &#8220;UserFreq.txt&#8221;); the browse button picks
a file and selects this plan. See <a href="#files">File formats</a>.</td></tr>
</table>

<p>The limits apply to every plan: the start frequency must be at least 1 Hz,
the stop frequency at most 20000 Hz, and the start below the stop. The stop
frequency also ends the band and file plans early: a sweep of the 31 bands
with a stop of 1000 Hz measures 20 Hz to 1000 Hz. Numbers typed in the boxes
use your desktop's decimal separator; numbers in files always use
&#8220;.&#8221;.</p>

<h2><a name="generator">The signal generator</a></h2>

<p>The &#8220;Simple Signal Generator&#8221; frame plays one signal
continuously, for setting levels, listening to a resonance or watching one
frequency. While it plays, Audimera records and analyses block after block
(about one every 0.7 s) and shows Level and Signal SNR in the
&#8220;Measure&#8221; frame; nothing is added to the plot.</p>

<ul>
<li>Six signals: &#8220;Sine&#8221;, &#8220;Square&#8221;,
&#8220;Triangle&#8221;, &#8220;Pink Noise&#8221;, &#8220;White Noise&#8221;
and &#8220;Silence&#8221;. Choosing another one while the signal plays
switches to it at once.</li>
<li>The frequency box (Hz) sets the tone's frequency; values below 1 or
above 20000 are corrected to those limits. A typed frequency is taken up when
the signal starts, when another signal is chosen, or when &#8220;x20&#8221;
is clicked.</li>
<li>The two bars under the frequency box tune the tone: the upper one is
coarse (steps of 0.1 Hz), the lower one fine (adds 0 to 100 Hz in steps of
0.01 Hz). Moving a bar writes the frequency into the box and retunes a
playing tone without a break.</li>
<li>The <b>&#8220;x20&#8221;</b> box switches the range: unticked, tones
span 1 Hz to 1000 Hz; ticked, 20 Hz to 20000 Hz, and the bars' steps are 20
times larger. A frequency outside the current range plays at the nearest end
of it, so tick &#8220;x20&#8221; for tones above 1000 Hz.</li>
<li><b>&#8220;Play Signal&#8221;</b> starts the signal and becomes
&#8220;Stop Signal&#8221;; pressing it again stops the signal. If no
calibration is held, the silence and white noise of the
<a href="#calibration">calibration</a> come first.</li>
</ul>

<p>While the signal plays, &#8220;Start Trace&#8221;, the sweep plans, the
start and stop boxes, the device menus, &#8220;Recenter 0dB&#8221;,
&#8220;Clear Traces&#8221; and the file commands are disabled.</p>

<h2><a name="corrections">Corrections</a></h2>

<p>A correction curve holds what one part of the measuring chain adds to the
response at each frequency, in dB. When its box is ticked, Audimera
subtracts the curve from every measured level, so that the trace shows the
response of the rest of the chain. Active corrections add up.</p>

<table border="1" cellspacing="0" cellpadding="4">
<tr><th align="left">Check box</th><th align="left">Curve file</th><th align="left">Use</th></tr>
<tr><td>Correct for 'C' SPL curve</td><td>&#8220;SPL C Curve.txt&#8221;</td>
<td>The C frequency weighting of a sound level meter (IEC 61672-1): 0 dB at
1 kHz, about &#8722;3 dB at 31.5 Hz and 8 kHz, &#8722;6.2 dB at 20 Hz and
&#8722;11.3 dB at 20 kHz. Tick it when the signal comes from a sound level
meter set to C weighting; the correction takes the weighting out.</td></tr>
<tr><td>Correct Sound Card curve</td><td>&#8220;SoundCard.txt&#8221;</td>
<td>The sound card's own response. The file that ships with Audimera is flat
(0 dB); replace it with your card's curve as described in
<a href="#soundcard">the next section</a>.</td></tr>
<tr><td>User Calibration file:</td><td>The file named in the box beside it
(default &#8220;UserCalib.txt&#8221;)</td><td>Any other curve, for example the
calibration curve of a measurement microphone. The browse button picks a file
and ticks the box.</td></tr>
</table>

<ul>
<li>&#8220;SPL C Curve.txt&#8221; and &#8220;SoundCard.txt&#8221; are read
from the folder Audimera was started in (its working directory). Both ship in
the program's data folder: start Audimera there, or copy them to the folder
you start it from.</li>
<li>A curve is read when its box is ticked. After editing a curve file,
untick and tick the box again to read the new contents. Choosing a new user
calibration file while its box is ticked keeps the old curve until the box is
ticked again.</li>
<li>The points of the file are joined by straight lines, in steps of half a
hertz. For a file sorted by frequency, the curve keeps the level of the first
record below the lowest point and that of the last record above the highest
point.</li>
<li>If the file is missing or unreadable, or holds no usable point, Audimera
says so and unticks the box.</li>
<li>The boxes can be switched during a sweep; the change applies from the
next point.</li>
<li>Saved traces hold the corrected levels; a loaded trace is shown as it was
saved and is not corrected again.</li>
</ul>

<h2><a name="soundcard">Measuring your sound card's own curve</a></h2>

<p>To take the sound card's response out of your measurements, measure the
card once and make that measurement the sound card curve:</p>
<ol>
<li>Loop the card back, line output to line input (see
<a href="#wiring">Connecting the audio chain</a>), with the devices and levels
you will measure with.</li>
<li>Untick all three correction boxes, so that the card is measured without
correction.</li>
<li>Press &#8220;Recenter 0dB&#8221; if it is enabled, then run a sweep. A
range sweep with a small step factor, such as 1.05, gives a detailed
curve.</li>
<li>Choose <b>File &gt; Save Last Trace</b> and save the trace, for example
as &#8220;Curve1.txt&#8221;.</li>
<li>Copy the saved file over &#8220;SoundCard.txt&#8221; in the folder
Audimera is started from (keep the flat original if you may want it
back).</li>
<li>Tick &#8220;Correct Sound Card curve&#8221;. From now on the card's
response is subtracted from every measurement; a loopback sweep measured
with the box ticked and the same reference should read close to 0 dB at
every frequency.</li>
</ol>
<p>The saved trace is relative to the 0 dB reference of that session, so the
correction also takes out the loopback's overall level. Points below 10 Hz are
not used.</p>

<h2><a name="files">File formats</a></h2>

<h3>Trace and correction curve files</h3>
<p>Saved traces, &#8220;SPL C Curve.txt&#8221;, &#8220;SoundCard.txt&#8221;
and user calibration files share one plain-text format: a sequence of
records, each a frequency in Hz followed by a level in dB.</p>
<ul>
<li>Fields are separated by commas, spaces or line breaks. They are taken two
at a time in the order they come, not line by line, so a line with one field
too many shifts every later record.</li>
<li>Numbers use &#8220;.&#8221; as the decimal separator whatever your
language settings, with no thousands separator.</li>
<li>There is no header and no comment syntax: the file holds numbers only.
Remove any header lines from a microphone calibration file before using
it.</li>
<li>Records with a frequency below 10 Hz or above 24000 Hz are skipped.</li>
<li>When a trace is loaded, its frequencies must rise strictly: a record
whose frequency is not above the one before it is skipped.</li>
<li>Audimera writes one record per line, frequency and level separated by a
comma, for example:</li>
</ul>
<pre>20,-0.85
31.5,-0.2
1000,0
16000,-1.5</pre>

<h3>Frequency list files</h3>
<p>The file of the &#8220;User file : &#8221; plan holds frequencies only, in
Hz, one per field, separated by commas, spaces or line breaks, with
&#8220;.&#8221; decimals. Frequencies from 10 Hz to 24000 Hz are used, in
rising order; a value outside that range, or not above the previous one, is
skipped. For example:</p>
<pre>50
100
200
400
800</pre>

<h2><a name="windows">The windows</a></h2>

<p>Three windows open with the program. The check boxes &#8220;Show
Frequency Response&#8221;, &#8220;Show Input Waveform&#8221; and &#8220;Show
Signal FFT&#8221; show and hide them; closing one only hides it and unticks
its box, and it keeps its contents.</p>

<h3>Frequency Response</h3>
<p>The measured curves, on a logarithmic frequency axis labelled from 10 Hz to
20 kHz, with a level grid every 3 dB and the 0 dB line in red across the
middle. Up to 8 traces are shown at once, each in the colour of its position,
the newest drawn on top:</p>
<table border="1" cellspacing="0" cellpadding="4">
<tr><th>Trace</th><th align="left">Colour</th><th>Trace</th><th align="left">Colour</th></tr>
<tr><td align="center">1</td><td>black</td><td align="center">5</td><td>purple</td></tr>
<tr><td align="center">2</td><td>blue</td><td align="center">6</td><td>teal</td></tr>
<tr><td align="center">3</td><td>red</td><td align="center">7</td><td>dark green</td></tr>
<tr><td align="center">4</td><td>grey</td><td align="center">8</td><td>yellow-green</td></tr>
</table>
<ul>
<li><b>dB Range:</b> chooses the height of the plot: &#8220;+/- 6 dB&#8221;,
&#8220;+/- 12 dB&#8221;, &#8220;+/- 24 dB&#8221; (the default) or
&#8220;+/- 48 dB&#8221; around 0 dB. Parts of a curve outside the range are
off the plot.</li>
<li><b>Smooth level:</b> draws the traces through a B-spline:
&#8220;0 (none)&#8221; joins the points with straight lines, &#8220;1
(sharp)&#8221; (the default) draws the same lines, &#8220;2 (light)&#8221; and
&#8220;3 (strong)&#8221; round the curve more and more, flattening narrow
peaks and dips. Traces of three points or fewer are always drawn straight.
Smoothing changes only the drawing, never the stored points or the saved
files.</li>
<li>Both lists apply at once when no sweep runs, otherwise from the next
point.</li>
</ul>

<h3>Input Wave Form</h3>
<p>About four periods of the block just recorded, like an oscilloscope,
centred on the block's mean value (a grey line), so that a DC offset does not
move it. The wave is green, and red when the block is bad (with
&#8220;Red/Skip measure if bad wave&#8221; ticked). From 80 Hz up every sample
is drawn as a flat step, so at high frequencies, where a period spans only a
few samples, the wave looks stepped: that is expected.</p>

<h3>Fast Fourier Transform FFT</h3>
<p>The spectrum of the recorded block, from a 16384-point FFT, on a
logarithmic frequency axis from 10 Hz to 20 kHz: orange, and red when the
block is bad (with &#8220;Red/Skip measure if bad wave&#8221; ticked). The height follows the square root of each component's
amplitude, scaled so that the strongest component reaches the top; it shows
which components are present &#8212; the test tone, its harmonics (a sign of
distortion), mains hum, noise &#8212; rather than their levels in dB.</p>

<h2><a name="traces">Working with traces</a></h2>
<ul>
<li><b>File &gt; Save Last Trace</b> saves the newest trace as a text file
(suggested name &#8220;Curve&#8221; followed by the number of traces shown,
such as &#8220;Curve3.txt&#8221;). The frequencies are saved exactly as
measured, the levels as plotted, corrections included.</li>
<li><b>File &gt; Load Trace</b> loads a saved curve file as a new trace.</li>
<li><b>&#8220;Clear Traces&#8221;</b> removes every trace from the plot; the
colours start again from black.</li>
<li>With 8 traces shown, neither a sweep nor Load Trace can add another:
clear the traces first.</li>
<li>&#8220;Clear Traces&#8221; and Save Last Trace are enabled when at least
one trace is shown and neither a sweep nor the signal generator runs.</li>
</ul>

<h2><a name="menus">Menus</a></h2>
<table border="1" cellspacing="0" cellpadding="4">
<tr><th align="left">Menu</th><th align="left">Entries</th></tr>
<tr><td>File</td><td>Load Trace, Save Last Trace, Exit</td></tr>
<tr><td>Settings</td><td>Play Device, Record Device</td></tr>
<tr><td>?</td><td>Help (this page), About</td></tr>
</table>
<p>Exit, or closing the main window, stops any sweep or signal and ends the
program with all its windows. Audimera keeps no settings between runs: every
start begins with the defaults.</p>

<h2><a name="messages">Messages</a></h2>
<table border="1" cellspacing="0" cellpadding="4">
<tr><th align="left">Message</th><th align="left">What to do</th></tr>
<tr><td>Start frequency minimun: 1 Hz</td><td>Type a start frequency of at
least 1 Hz.</td></tr>
<tr><td>Stop frequency maximum: 20000 Hz</td><td>Type a stop frequency of at
most 20000 Hz.</td></tr>
<tr><td>Stop frequency must be &gt; Start !</td><td>Make the stop frequency
higher than the start frequency.</td></tr>
<tr><td>Warning: input level too low or too much noise.</td><td>See
<a href="#calibration">the low-signal warning</a>.</td></tr>
<tr><td>You can't trace more than 8 curves, click on 'Clear' to erase current
curves.</td><td>Press &#8220;Clear Traces&#8221; (save the traces you want to
keep first).</td></tr>
<tr><td>Bad file, no points were found !</td><td>The trace file holds no
record from 10 Hz to 24000 Hz.</td></tr>
<tr><td>Bad calibration file, no points were found !</td><td>The correction
file holds no usable record; the box is unticked.</td></tr>
<tr><td>Bad frequency file, no entry found !</td><td>The frequency list holds
no usable frequency; the sweep measures nothing.</td></tr>
<tr><td>Error loading file '&#8230;' : &#8230;<br />
Error loading calibration file '&#8230;' : &#8230;<br />
Error saving file '&#8230;' : &#8230;<br />
Error reading user frequency file '&#8230;' : &#8230;</td><td>The file could
not be opened, read or written; the end of the message says why. A missing
&#8220;SoundCard.txt&#8221; or &#8220;SPL C Curve.txt&#8221; in the working
directory shows the calibration file message.</td></tr>
<tr><td>Sorry but this program requires a sound card supporting
directx.</td><td>Shown at start-up when no usable sound device is found:
check that the sound server (PulseAudio or PipeWire) runs.</td></tr>
</table>

<h2><a name="headless">Measuring from a terminal</a></h2>
<p>The command <code>audimera-measure</code> runs the same measurement without
windows and writes curve files in the format above, which Load Trace reads.
For example:</p>
<pre>audimera-measure devices
audimera-measure sweep --bands 31 --out curve.txt
audimera-measure plot a.txt b.txt --png both.png</pre>
<p><code>audimera-measure --help</code> lists every command and option.</p>

<h2><a name="limits">Limits</a></h2>
<table border="1" cellspacing="0" cellpadding="4">
<tr><td>Traces shown at once</td><td>8</td></tr>
<tr><td>Points in one trace</td><td>22051</td></tr>
<tr><td>Frequencies of a sweep</td><td>1 Hz to 20000 Hz</td></tr>
<tr><td>Frequencies in files</td><td>10 Hz to 24000 Hz</td></tr>
<tr><td>Step factor of a range sweep</td><td>1.01 to 2.00</td></tr>
<tr><td>Devices listed</td><td>up to 4 play and 4 record devices</td></tr>
<tr><td>Recording</td><td>44100 samples per second, 16 bits, one
channel</td></tr>
<tr><td>Recorded block</td><td>30000 samples (about 0.68 s)</td></tr>
<tr><td>FFT</td><td>16384 points</td></tr>
</table>

<p><a href="#top">Back to the top</a></p>

</body>
</html>
)html";

} // namespace

QString html()
{
    return QString::fromUtf8(Page);
}

QString version()
{
    return QString::fromUtf8(Version);
}

QString aboutTitle()
{
    return QStringLiteral("About ") + QString::fromUtf8(ProgramName);
}

QString aboutText()
{
    return QString::fromUtf8(ProgramName) + QLatin1Char(' ') + version() + QStringLiteral("\n\n")
        + QString::fromUtf8(Description) + QStringLiteral("\n\n") + QString::fromUtf8(AuthorLine);
}

} // namespace HelpPage
