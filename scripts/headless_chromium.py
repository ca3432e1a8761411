"""Headless Chromium driven over the DevTools protocol on a pipe, with Python's
standard library alone (no npm or pip package): the browser reads commands from its
descriptor 3 and writes answers and events to descriptor 4, each message one JSON
text ending in a NUL byte.

    with Browser() as browser:
        page = browser.open('file:///tmp/page.html', 1280, 800)
        print(page.evaluate('document.title'), page.console_errors(), page.requests)
        png = page.screenshot()

Each Browser runs one Chromium (Debian's /usr/bin/chromium, or $CHROMIUM) with a
new empty profile, no first-run pages, no background or component networking, no
sync, and with the network cut off: host names resolve to nothing and every page
is emulated offline. Requests are recorded, so a caller can check that a page asked
for nothing but itself. The browser is ended (by its process id) and its profile
removed on exit. Used by tests/html/page_in_browser.py and
scripts/make_page_screenshot.py.
"""
import base64
import json
import os
import select
import shutil
import subprocess
import tempfile
import time
import zlib


class BrowserError(Exception):
    pass


class Browser:
    def __init__(self, executable=None, timeout=60):
        self.executable = executable or os.environ.get('CHROMIUM', 'chromium')
        self.timeout = timeout
        self.process = None
        self.profile = None
        self.pending = b''
        self.next_id = 0
        self.events = []

    def __enter__(self):
        self.profile = tempfile.mkdtemp(prefix='qm_chromium_')
        commands_read, self.commands = os.pipe()
        self.answers, answers_write = os.pipe()

        def give_pipes():
            # Descriptors 3 and 4 of the browser, whatever numbers the pipes have here.
            read_copy, write_copy = os.dup(commands_read), os.dup(answers_write)
            os.dup2(read_copy, 3)
            os.dup2(write_copy, 4)

        flags = ['--headless', '--disable-gpu', '--no-first-run', '--no-default-browser-check',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--disable-extensions', '--host-resolver-rules=MAP * ~NOTFOUND', '--remote-debugging-pipe',
                 '--user-data-dir=' + self.profile, '--hide-scrollbars']
        if os.geteuid() == 0:
            flags.append('--no-sandbox')  # Chromium refuses to run as root with its sandbox
        self.process = subprocess.Popen([self.executable] + flags + ['about:blank'], preexec_fn=give_pipes,
                                        close_fds=False, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        os.close(commands_read)
        os.close(answers_write)
        return self

    def __exit__(self, *exception):
        for descriptor in (self.commands, self.answers):
            try:
                os.close(descriptor)
            except OSError:
                pass
        if self.process is not None:
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.profile is not None:
            shutil.rmtree(self.profile, ignore_errors=True)
        return False

    def _receive(self, deadline):
        while b'\0' not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.answers], [], [], left)[0]:
                raise BrowserError('no answer from the browser in %d s' % self.timeout)
            chunk = os.read(self.answers, 1 << 20)
            if not chunk:
                raise BrowserError('the browser closed its pipe (status %r)' % self.process.poll())
            self.pending += chunk
        message, _, self.pending = self.pending.partition(b'\0')
        return json.loads(message)

    def call(self, method, params=None, session=None):
        """Sends a command and returns its result; events that arrive meanwhile are kept."""
        self.next_id += 1
        message = {'id': self.next_id, 'method': method, 'params': params or {}}
        if session is not None:
            message['sessionId'] = session
        os.write(self.commands, json.dumps(message).encode() + b'\0')
        deadline = time.monotonic() + self.timeout
        while True:
            answer = self._receive(deadline)
            if answer.get('id') == self.next_id:
                if 'error' in answer:
                    raise BrowserError('%s: %s' % (method, answer['error'].get('message')))
                return answer.get('result', {})
            self.events.append(answer)

    def wait_for(self, method, session, deadline):
        """Returns the first kept or new event named method of the session."""
        while True:
            for event in self.events:
                if event.get('method') == method and event.get('sessionId') == session:
                    self.events.remove(event)
                    return event
            left = deadline - time.monotonic()
            self.events.append(self._receive(time.monotonic() + max(left, 0)))

    def open(self, url, width, height, scripts=True):
        """A new tab of width x height CSS pixels, offline, showing url once loaded."""
        target = self.call('Target.createTarget', {'url': 'about:blank'})['targetId']
        session = self.call('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']
        page = Page(self, session)
        for domain in ('Page', 'Runtime', 'Log', 'Network'):
            self.call(domain + '.enable', session=session)
        self.call('Network.emulateNetworkConditions',
                  {'offline': True, 'latency': 0, 'downloadThroughput': -1, 'uploadThroughput': -1}, session)
        self.call('Emulation.setDeviceMetricsOverride',
                  {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': False}, session)
        if not scripts:
            self.call('Emulation.setScriptExecutionDisabled', {'value': True}, session)
        self.events = [event for event in self.events if event.get('sessionId') != session]
        self.call('Page.navigate', {'url': url}, session)
        self.wait_for('Page.loadEventFired', session, time.monotonic() + self.timeout)
        page.take_events()
        return page


class Page:
    def __init__(self, browser, session):
        self.browser = browser
        self.session = session
        self.requests = []  # every URL the page asked for
        self.messages = []  # (level, text) of console calls, exceptions and log entries

    def take_events(self):
        kept = []
        for event in self.browser.events:
            if event.get('sessionId') != self.session:
                kept.append(event)
                continue
            method, params = event.get('method'), event.get('params', {})
            if method == 'Network.requestWillBeSent':
                self.requests.append(params['request']['url'])
            elif method == 'Runtime.consoleAPICalled':
                text = ' '.join(str(arg.get('value', arg.get('description', ''))) for arg in params.get('args', []))
                self.messages.append((params.get('type'), text))
            elif method == 'Runtime.exceptionThrown':
                details = params.get('exceptionDetails', {})
                self.messages.append(('error', details.get('exception', {}).get('description', details.get('text'))))
            elif method == 'Log.entryAdded':
                entry = params.get('entry', {})
                self.messages.append((entry.get('level'), '%s %s' % (entry.get('text'), entry.get('url', ''))))
        self.browser.events = kept

    def console_errors(self):
        self.take_events()
        return [text for level, text in self.messages if level in ('error', 'assert')]

    def evaluate(self, expression):
        result = self.browser.call('Runtime.evaluate', {'expression': expression, 'returnByValue': True},
                                   self.session)
        if 'exceptionDetails' in result:
            raise BrowserError('%s: %s' % (expression, result['exceptionDetails'].get('text')))
        self.take_events()
        return result['result'].get('value')

    def screenshot(self, full_page=False, height=None, scale=1):
        """The page as PNG bytes: the viewport, the whole page, or its top `height`
        CSS pixels; scale shrinks (or grows) the image."""
        # Only the tab in front paints.
        self.browser.call('Page.bringToFront', session=self.session)
        params = {'format': 'png', 'captureBeyondViewport': full_page or height is not None}
        if full_page or height is not None or scale != 1:
            size = self.browser.call('Page.getLayoutMetrics', session=self.session)['cssLayoutViewport']
            content = self.browser.call('Page.getLayoutMetrics', session=self.session)['cssContentSize']
            clip_height = content['height'] if full_page else height or size['clientHeight']
            params['clip'] = {'x': 0, 'y': 0, 'width': size['clientWidth'], 'height': clip_height, 'scale': scale}
        data = self.browser.call('Page.captureScreenshot', params, self.session)['data']
        return base64.b64decode(data)


def png_pixels(png):
    """(width, height, rows of RGBA bytes) of an 8-bit RGB or RGBA, non-interlaced PNG."""
    if png[:8] != b'\x89PNG\r\n\x1a\n':
        raise BrowserError('not a PNG')
    position, data, header = 8, b'', None
    while position < len(png):
        length = int.from_bytes(png[position:position + 4], 'big')
        kind = png[position + 4:position + 8]
        body = png[position + 8:position + 8 + length]
        position += 12 + length
        if kind == b'IHDR':
            header = body
        elif kind == b'IDAT':
            data += body
    width, height = int.from_bytes(header[0:4], 'big'), int.from_bytes(header[4:8], 'big')
    depth, colour, interlace = header[8], header[9], header[12]
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise BrowserError('unexpected PNG layout: depth %d, colour type %d' % (depth, colour))
    step = 4 if colour == 6 else 3
    stride = width * step
    raw = zlib.decompress(data)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(step, stride):
                line[i] = (line[i] + line[i - step]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, previous))
        elif kind == 3:
            for i in range(stride):
                left = line[i - step] if i >= step else 0
                line[i] = (line[i] + ((left + previous[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - step] if i >= step else 0
                b, c = previous[i], previous[i - step] if i >= step else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line) if step == 4 else bytes(b for i in range(0, stride, 3) for b in
                                                         (line[i], line[i + 1], line[i + 2], 255)))
        previous = line
    return width, height, rows
