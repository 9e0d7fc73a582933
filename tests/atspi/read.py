# What a screen reader gets of the tool's window over AT-SPI (pyatspi): the
# device page in the bus's order, the name changes while an update runs,
# and the alert a failure raises. One JSON object per line on stdout.
import collections
import json
import os
import signal
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

service, port, service_pid = sys.argv[1], sys.argv[2], int(sys.argv[3])
APP = 'tembra-update-tool'


def say(**fields):
    print(json.dumps(fields), flush=True)


def find_app(limit=30):
    end = time.time() + limit
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == APP:
                return app
        time.sleep(0.3)
    return None


def showing(app):
    """(role, name) of every showing object, in the bus's order."""
    out = []
    stack = [app]
    while stack:
        node = stack.pop(0)
        try:
            if node.getState().contains(pyatspi.STATE_SHOWING) and node is not app:
                out.append((node.getRoleName(), node.name))
            stack[0:0] = [node.getChildAtIndex(i) for i in range(node.childCount)]
        except Exception:
            pass
    return out


def button(app, name):
    stack = [app]
    while stack:
        node = stack.pop()
        if node.getRoleName() == 'push button' and node.name == name:
            return node
        stack.extend(node.getChildAtIndex(i) for i in range(node.childCount))
    return None


def run_until(done, limit):
    loop = GLib.MainLoop()
    end = time.time() + limit

    def check():
        if done() or time.time() > end:
            loop.quit()
            return False
        return True
    GLib.timeout_add(200, check)
    loop.run()


app = find_app()
if app is None:
    say(error='the window is not on the accessibility bus')
    sys.exit(0)
# The device page, once it says what the service offers.
run_until(lambda: any(name.startswith('Firmware 1.3.0 is available') for _, name in showing(app)),
          20)
say(page=[name for role, name in showing(app) if role in ('label', 'push button', 'alert')])

names = collections.Counter()
alerts = []
# Every event while the firmware goes out, once its page is there.
transfer = {'from': None, 'to': None, 'events': 0, 'what': collections.Counter()}


def on_event(event):
    try:
        if event.source.getApplication().name != APP:
            return
        role = event.source.getRoleName()
        name = event.source.name or ''
        # From the first tenth the bar tells (its page has come and been
        # read) until the device checks what it got.
        if transfer['from'] is None and role == 'progress bar' and \
                event.type.startswith('object:property-change:accessible-value') and \
                name.startswith('Sending') and event.source.queryValue().currentValue >= 10:
            transfer['from'] = time.time()
        elif transfer['from'] is not None and transfer['to'] is None:
            # The checking is brief: the first sign of its end, whichever comes.
            if name.startswith(('Device checking', 'Restarting the device', 'Update Successfully')):
                transfer['to'] = time.time()
            else:
                transfer['events'] += 1
                transfer['what'][event.type + ' ' + role + ' ' + name] += 1
        if event.type.startswith('object:property-change:accessible-name'):
            names[name] += 1
        if role == 'alert' and name:
            alerts.append((event.type, name))
    except Exception:
        pass


for kind in ('object:property-change:accessible-name', 'object:state-changed:showing',
             'object:property-change:accessible-value', 'object:value-changed',
             'object:text-changed', 'object:children-changed'):
    pyatspi.Registry.registerEventListener(on_event, kind)

started = time.time()
button(app, '1.Update Firmware').queryAction().doAction(0)
# Until the event that tells the result has come: the page may show the text
# a moment before its event reaches this listener (on a busy machine, later).
run_until(lambda: any(name.startswith('Updated from') for name in names), 60)
say(seconds=round(time.time() - started, 1), names=dict(names))
if transfer['from'] is not None and transfer['to'] is not None:
    say(transfer_seconds=round(transfer['to'] - transfer['from'], 2),
        transfer_events=transfer['events'], transfer_told=dict(transfer['what']))

# The service fails now: the next try says so, as an alert.
os.kill(service_pid, signal.SIGTERM)
time.sleep(0.5)
failing = subprocess.Popen([service, port, '--fault', 'unavailable'], stdout=subprocess.DEVNULL)
time.sleep(0.5)
alerts.clear()
button(app, '1.Update Firmware').queryAction().doAction(0)
run_until(lambda: any('503' in name for _, name in alerts), 30)
say(alerts=[name for _, name in alerts])
failing.terminate()
