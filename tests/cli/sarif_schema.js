// Validates SARIF logs against the SARIF 2.1.0 JSON schema.
// Usage: node sarif_schema.js DIR FILE...  (DIR: where ./dev sarif-validator installed the packages)
// Exit status 0 when every FILE is valid; each verdict is printed, with the errors.
"use strict";
const fs = require("fs");
const path = require("path");

const dir = path.resolve(process.argv[2]);
const need = (name) => require(path.join(dir, "node_modules", name));
// The schema is draft-04; its language pattern is not a valid Unicode-mode
// regular expression, hence unicodeRegExp: false.
const Ajv = need("ajv-draft-04");
const addFormats = need("ajv-formats");
const schemaFile = path.join(dir, "node_modules", "@microsoft", "jest-sarif", "lib", "schemas", "sarif-2.1.0-rtm.5.json");
const ajv = new Ajv({allErrors: true, strict: false, unicodeRegExp: false});
addFormats(ajv);
const validate = ajv.compile(JSON.parse(fs.readFileSync(schemaFile, "utf8")));
let failed = 0;
for (const file of process.argv.slice(3)) {
  if (validate(JSON.parse(fs.readFileSync(file, "utf8")))) {
    console.log(file + ": valid SARIF 2.1.0");
    continue;
  }
  failed++;
  console.log(file + ": " + JSON.stringify(validate.errors, null, 1));
}
process.exit(failed ? 1 : 0);
