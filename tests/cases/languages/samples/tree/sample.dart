// c
var s = '''
/* in
''';
