'''A python-dbusmock ModemManager: modems with or without Voice, and calls, driven by the methods
below (SetCallProperty takes values of any type; FloodCallState repeats one StateChanged).'''

import dbus

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.ModemManager1'
MAIN_OBJ = '/org/freedesktop/ModemManager1'
MAIN_IFACE = 'org.freedesktop.ModemManager1'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

MODEM_IFACE = 'org.freedesktop.ModemManager1.Modem'
VOICE_IFACE = 'org.freedesktop.ModemManager1.Modem.Voice'
CALL_IFACE = 'org.freedesktop.ModemManager1.Call'


def load(mock, parameters):
    mock.next_call = int(parameters.get('first_call', 1))
    mock.call_modem = {}


def _calls_of(modem_path):
    return mockobject.objects[modem_path].props[VOICE_IFACE]['Calls']


def _set_calls(modem_path, calls):
    calls = dbus.Array(calls, signature='o')
    mockobject.objects[modem_path].UpdateProperties(VOICE_IFACE, {'Calls': calls})


@dbus.service.method(MOCK_IFACE, in_signature='sb', out_signature='o')
def AddModem(self, name, voice):
    path = '/org/freedesktop/ModemManager1/Modem/' + name
    self.AddObject(path, MODEM_IFACE, {'Manufacturer': dbus.String('Mock', variant_level=1)}, [])
    if voice:
        calls = dbus.Array([], signature='o')
        mockobject.objects[path].AddProperties(VOICE_IFACE, {'Calls': calls})
    self.object_manager_emit_added(path)
    return path


@dbus.service.method(MOCK_IFACE, in_signature='oiis', out_signature='o')
def AddCall(self, modem_path, direction, state, number):
    path = '/org/freedesktop/ModemManager1/Call/%d' % self.next_call
    self.next_call += 1
    self.AddObject(path, CALL_IFACE, {
        'State': dbus.Int32(state, variant_level=1),
        'StateReason': dbus.Int32(0, variant_level=1),
        'Direction': dbus.Int32(direction, variant_level=1),
        'Number': dbus.String(number, variant_level=1),
    }, [])
    self.call_modem[path] = modem_path
    modem = mockobject.objects[modem_path]
    # A modem without Voice still announces it, as a confused one might.
    modem.EmitSignal(VOICE_IFACE, 'CallAdded', 'o', [dbus.ObjectPath(path)])
    if VOICE_IFACE in modem.props:
        _set_calls(modem_path, list(_calls_of(modem_path)) + [dbus.ObjectPath(path)])
    return path


@dbus.service.method(MOCK_IFACE, in_signature='oi', out_signature='')
def SetCallState(self, call_path, state):
    call = mockobject.objects[call_path]
    old = call.props[CALL_IFACE]['State']
    old = int(old) if isinstance(old, (int, dbus.Int32)) else 0
    call.UpdateProperties(CALL_IFACE, {'State': dbus.Int32(state, variant_level=1)})
    call.EmitSignal(CALL_IFACE, 'StateChanged', 'iiu', [old, state, dbus.UInt32(0)])


@dbus.service.method(MOCK_IFACE, in_signature='o', out_signature='')
def DeleteCall(self, call_path):
    modem_path = self.call_modem.pop(call_path)
    modem = mockobject.objects[modem_path]
    if VOICE_IFACE in modem.props:
        _set_calls(modem_path, [c for c in _calls_of(modem_path) if c != call_path])
    modem.EmitSignal(VOICE_IFACE, 'CallDeleted', 'o', [dbus.ObjectPath(call_path)])
    self.RemoveObject(call_path)


@dbus.service.method(MOCK_IFACE, in_signature='osv', out_signature='')
def SetCallProperty(self, call_path, name, value):
    mockobject.objects[call_path].UpdateProperties(CALL_IFACE, {name: value})


@dbus.service.method(MOCK_IFACE, in_signature='oiu', out_signature='')
def FloodCallState(self, call_path, state, count):
    call = mockobject.objects[call_path]
    for _ in range(count):
        call.EmitSignal(CALL_IFACE, 'StateChanged', 'iiu', [state, state, dbus.UInt32(0)])
