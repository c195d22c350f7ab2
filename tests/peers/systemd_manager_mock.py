'''A systemd manager for tests: the Manager methods and signals orvaned uses, and units with the
Unit and Service properties it reads. Parameters: {"units": [unit, ...], "own_unit": name}; a unit
is {"name", "loaded" (default true), "file", "state" (UnitFileState), "description", "active",
"pid", "exec" ([path, arg...]), "user", "restart", "refuse_stop", "result" (of its jobs: "done",
the default, another result, or "never"), "odd" (its properties of other types than systemd's)}.
The mock method AddUnit(json) adds a unit at the next Reload.'''

import json

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.systemd1'
MAIN_OBJ = '/org/freedesktop/systemd1'
MAIN_IFACE = 'org.freedesktop.systemd1.Manager'
UNIT_IFACE = 'org.freedesktop.systemd1.Unit'
SERVICE_IFACE = 'org.freedesktop.systemd1.Service'
SYSTEM_BUS = False
STARTED_PID = 4242


def unit_path(name):
    '''The object path systemd gives a unit: every byte but ASCII letters and digits escaped.'''
    escaped = ''.join(c if c.isascii() and c.isalnum() and (i > 0 or not c.isdigit())
                      else '_%02x' % ord(c) for i, c in enumerate(name))
    return '/org/freedesktop/systemd1/unit/' + escaped


def exec_start(argv):
    entries = [dbus.Struct((argv[0], dbus.Array(argv, signature='s'), False,
                            *[dbus.UInt64(0)] * 4, dbus.UInt32(0), dbus.Int32(0), dbus.Int32(0)))
               ] if argv else []
    return dbus.Array(entries, signature='(sasbttttuii)')


def add_unit(mock, unit):
    name = unit['name']
    mock.units[name] = unit
    path = unit_path(name)
    mock.AddObject(path, UNIT_IFACE, {
        'Description': unit.get('description', ''),
        'ActiveState': unit.get('active', 'inactive'),
        'FragmentPath': unit.get('file', ''),
        'UnitFileState': unit.get('state', ''),
        'RefuseManualStop': dbus.Boolean(unit.get('refuse_stop', False)),
    }, [])
    mockobject.objects[path].AddProperties(SERVICE_IFACE, {
        'MainPID': dbus.UInt32(unit.get('pid', 0)),
        'ExecStart': exec_start(unit.get('exec', [])),
        'User': unit.get('user', ''),
        'Restart': unit.get('restart', 'no'),
    })
    if unit.get('odd'):
        obj = mockobject.objects[path]
        obj.props[UNIT_IFACE]['Description'] = dbus.Int32(3)
        obj.props[SERVICE_IFACE].update({'MainPID': 'x', 'ExecStart': dbus.Array(['y'], signature='s'),
                                         'User': dbus.Int32(5), 'Restart': dbus.Boolean(True)})


def load(mock, parameters):
    mock.units = {}
    mock.pending = []
    mock.next_job = 1
    mock.own_unit = parameters.get('own_unit', '')
    for unit in parameters.get('units', []):
        add_unit(mock, unit)


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='a(ssssssouso)')
def ListUnits(self):
    return [(name, u.get('description', ''), 'loaded', u.get('active', 'inactive'), 'running',
             '', unit_path(name), dbus.UInt32(0), '', '/')
            for name, u in self.units.items() if u.get('loaded', True)]


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='a(ss)')
def ListUnitFiles(self):
    return [(u['file'], u.get('state', 'disabled')) for u in self.units.values() if u.get('file')]


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='')
def Subscribe(self):
    pass


@dbus.service.method(MAIN_IFACE, in_signature='u', out_signature='o')
def GetUnitByPID(self, _pid):
    if not self.own_unit:
        raise dbus.exceptions.DBusException('no unit', name='org.freedesktop.systemd1.NoUnitForPID')
    return unit_path(self.own_unit)


def finish_job(mock, job_id, job, name, start):
    unit = mock.units[name]
    result = unit.get('result', 'done')
    if result == 'never':
        return False
    active = ('active' if start else 'inactive') if result == 'done' else 'failed'
    pid = STARTED_PID if start and result == 'done' else 0
    obj = mockobject.objects[unit_path(name)]
    obj.UpdateProperties(UNIT_IFACE, {'ActiveState': active})
    obj.UpdateProperties(SERVICE_IFACE, {'MainPID': dbus.UInt32(pid)})
    unit['active'] = active
    mock.EmitSignal(MAIN_IFACE, 'JobRemoved', 'uoss', [job_id, job, name, result])
    return False


def enqueue(mock, name, start):
    if str(name) not in mock.units:
        raise dbus.exceptions.DBusException(f'Unit {name} not loaded.',
                                            name='org.freedesktop.systemd1.NoSuchUnit')
    job_id = mock.next_job
    mock.next_job += 1
    job = f'/org/freedesktop/systemd1/job/{job_id}'
    # The job ends after the reply, as systemd's do.
    GLib.idle_add(finish_job, mock, dbus.UInt32(job_id), job, str(name), start)
    return job


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o')
def StartUnit(self, name, _mode):
    return enqueue(self, name, True)


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o')
def StopUnit(self, name, _mode):
    return enqueue(self, name, False)


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='')
def Reload(self):
    self.EmitSignal(MAIN_IFACE, 'Reloading', 'b', [True])
    for unit in self.pending:
        add_unit(self, unit)
    self.pending = []
    self.EmitSignal(MAIN_IFACE, 'Reloading', 'b', [False])


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def AddUnit(self, unit):
    self.pending.append(json.loads(unit))
