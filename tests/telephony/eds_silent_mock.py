'''A python-dbusmock address-book registry that owns its bus name and never answers.'''

BUS_NAME = 'org.gnome.evolution.dataserver.Sources5'
MAIN_OBJ = '/org/gnome/evolution/dataserver/SourceManager'
MAIN_IFACE = 'org.gnome.evolution.dataserver.SourceManager'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddMethod('org.freedesktop.DBus.ObjectManager', 'GetManagedObjects', '',
                   'a{oa{sa{sv}}}', '__import__("time").sleep(3600)')
