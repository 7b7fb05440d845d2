'''A small callaudiod for the speaker tests (a python-dbusmock template).

EnableSpeaker(b) answers true and keeps SpeakerState; the tests read the calls back with the
mock's GetMethodCalls. With the parameter {"refuse": true} it answers false instead, and with
{"slow": SECONDS} it takes that long to answer.
'''

import dbus

BUS_NAME = 'org.mobian_project.CallAudio'
MAIN_OBJ = '/org/mobian_project/CallAudio'
MAIN_IFACE = 'org.mobian_project.CallAudio'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.refuse = bool(parameters.get('refuse', False))
    mock.slow = float(parameters.get('slow', 0))
    mock.AddProperties(MAIN_IFACE, {
        'AudioMode': dbus.UInt32(0, variant_level=1),
        'SpeakerState': dbus.UInt32(0, variant_level=1),
        'MicState': dbus.UInt32(0, variant_level=1),
    })
    mock.AddMethod(MAIN_IFACE, 'SelectMode', 'u', 'b', 'ret = True')
    mock.AddMethod(MAIN_IFACE, 'MuteMic', 'b', 'b', 'ret = True')
    mock.AddMethod(MAIN_IFACE, 'EnableSpeaker', 'b', 'b', '''
if self.slow:
    time.sleep(self.slow)
if not self.refuse:
    self.props['org.mobian_project.CallAudio']['SpeakerState'] = dbus.UInt32(1 if args[0] else 0, variant_level=1)
ret = not self.refuse
''')
