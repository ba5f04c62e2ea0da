// Prints how Swift's String counts and cuts texts, for the character tests to compare with.
// Each input line is a text written as code points in hexadecimal, separated by spaces; each output
// line is the text's count, then for n from 1 to that count the number of code points in
// String.prefix(n), separated by spaces. Texts are short: every prefix is taken afresh, as a
// program that cuts a text does.
var output = ""
while let line = readLine(strippingNewline: true) {
  var scalars = String.UnicodeScalarView()
  for field in line.split(separator: " ") {
    guard let value = UInt32(field, radix: 16), let scalar = Unicode.Scalar(value) else {
      fatalError("not a code point: \(field)")
    }
    scalars.append(scalar)
  }
  let text = String(scalars)
  let count = text.count
  output += String(count)
  for n in stride(from: 1, through: count, by: 1) {
    output += " " + String(text.prefix(n).unicodeScalars.count)
  }
  output += "\n"
  if output.utf8.count > 1 << 16 {
    print(output, terminator: "")
    output = ""
  }
}
print(output, terminator: "")
